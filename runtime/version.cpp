#include "runtime/version.h"

const char *GetBannerText()
{
    return LV_PRODUCT_NAME " 11.0 (Linux x86_64)";
}
