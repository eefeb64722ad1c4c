// version.h - the runtime's name and version, as printed in the banner.
#pragma once

#define LV_PRODUCT_NAME "Lumivarra"
#define LV_VERSION_MAJOR 11
#define LV_VERSION_MINOR 0

// The banner line printed at start unless the run is quiet or linked.
const char *GetBannerText();
