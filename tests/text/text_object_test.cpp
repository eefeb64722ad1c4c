// Text objects: scaling lays the text out again in the scaled font (not a
// stretch of the pixels), rotation turns the laid-out image, the transform
// flag follows what is left of the matrix, and copies, look-ups and frees.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "images/lvbrush.h"
#include "runtime/objects.h"
#include "text/lvtextobject.h"

namespace {

class TextObjects : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDrawingDefaults();
        ASSERT_EQ(OpenTextEngine(nullptr, nullptr), 0);
    }
    void TearDown() override
    {
        CloseTextEngine();
        FreeObjectTypes();
    }
    lvFontManager *Fm() { return &GetTextLibrary()->fonts; }
    lvFont *Vera(int size)
    {
        lvFont *font = nullptr;
        EXPECT_EQ(OpenFontByName(Fm(), LV_SANS_DEFAULT, size, 1, 0, 0, nullptr, 0, "inbuilt", "", &font), 0);
        return font;
    }
    std::string text = "Type";
    lvTextOptions Options(int style)
    {
        lvTextOptions o;
        InitTextOptions(&o, 1);
        o.style = *GetFontStyle();
        o.style.style = style;
        o.text = text.data();
        o.length = text.size();
        return o;
    }
    lvTextObject *Make(lvFont *font, int number, int style = FORM_ANTIALIAS)
    {
        lvTextObject *object = nullptr;
        EXPECT_EQ(CreateTextObjectRecord(Fm(), font, number, false, Options(style), &object), 0);
        return object;
    }
};

TEST_F(TextObjects, ScalingLaysTheTextOutAgainInTheScaledFont)
{
    lvTextObject *object = Make(Vera(16), 1);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(ScaleTextObject(Fm(), object, object->baseWidth * 2, object->baseHeight * 2, 0), 0);
    EXPECT_EQ(object->transformed, 1);
    // The same text laid out with the font scaled by two, as draw tags with
    // a scale of two give it: equal pixels, not a stretch of the small image.
    lvFont *font = object->font;
    ApplyFontScale(Fm(), font, 2, 2);
    lvTextOptions o = Options(FORM_ANTIALIAS);
    lvTextImage want;
    ASSERT_EQ(LayoutText(Fm(), font, &o, &want), 0);
    ApplyFontScale(Fm(), font, 1, 1);
    ASSERT_EQ(object->width, want.width);
    ASSERT_EQ(object->height, want.height);
    EXPECT_EQ(object->image.alpha, want.alpha);
    // A stretch would repeat every pixel twice in a row: the laid-out text
    // has edges of other coverage.
    int repeats = 0, pairs = 0;
    for (int y = 0; y < want.height; y++)
        for (int x = 0; x + 1 < want.width; x += 2) {
            uint8_t a = want.alpha[(size_t)y * want.width + x], b = want.alpha[(size_t)y * want.width + x + 1];
            if (a || b) pairs++, repeats += a == b;
        }
    EXPECT_LT(repeats, pairs * 3 / 4);
    // Back at the base size: the flag clears and the base image returns.
    lvTextObject *fresh = Make(Vera(16), 2);
    ASSERT_EQ(ScaleTextObject(Fm(), object, object->baseWidth, object->baseHeight, 0), 0);
    EXPECT_EQ(object->transformed, 0);
    EXPECT_EQ(object->image.alpha, fresh->image.alpha);
}

TEST_F(TextObjects, RotationTurnsTheImageAndAFullTurnIsNoTransform)
{
    lvTextObject *object = Make(nullptr, 1, FORM_NORMAL);
    ASSERT_NE(object, nullptr);
    const lvTextImage base = object->image;
    ASSERT_EQ(RotateTextObject(Fm(), object, 90, 0), 0);
    EXPECT_EQ(object->transformed, 1);
    ASSERT_EQ(object->width, base.height);
    ASSERT_EQ(object->height, base.width);
    // A quarter turn as the draw tags turn brushes (anticlockwise on screen),
    // exact: image row y is base column width - 1 - y, read top down.
    for (int y = 0; y < object->height; y++)
        for (int x = 0; x < object->width; x++)
            ASSERT_EQ(object->image.alpha[(size_t)y * object->width + x],
                      base.alpha[(size_t)x * base.width + (base.width - 1 - y)])
                << x << "," << y;
    // The corner follows the turn about the layout origin: the text's top row
    // ends on the image's left column.
    EXPECT_EQ(object->image.leftExtension, base.topExtension);
    EXPECT_EQ(object->image.topExtension, -(base.leftExtension + base.width));
    ASSERT_EQ(RotateTextObject(Fm(), object, 360, 0), 0);
    EXPECT_EQ(object->transformed, 0);
    EXPECT_EQ(object->image.alpha, base.alpha);
}

// A turn of a scaled object in a font that scales: the scale lays the text out
// again and only the turn goes to the image (an exact quarter turn of the
// layout at 200%, not a stretched bitmap turned).
TEST_F(TextObjects, ATurnedScaledObjectIsTheScaledLayoutTurned)
{
    lvTextObject *object = Make(Vera(16), 1);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(ScaleTextObject(Fm(), object, object->baseWidth * 2, object->baseHeight * 2, 0), 0);
    const lvTextImage scaled = object->image;
    ASSERT_EQ(RotateTextObject(Fm(), object, 90, 0), 0);
    ASSERT_EQ(object->width, scaled.height);
    ASSERT_EQ(object->height, scaled.width);
    for (int y = 0; y < object->height; y++)
        for (int x = 0; x < object->width; x++)
            ASSERT_EQ(object->image.alpha[(size_t)y * object->width + x],
                      scaled.alpha[(size_t)x * scaled.width + (scaled.width - 1 - y)])
                << x << "," << y;
    // Any other angle turns through the image transform: the turned image
    // holds the text's ink, within the bounds of the turned rectangle.
    ASSERT_EQ(RotateTextObject(Fm(), object, 30, 1), 0);
    double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    EXPECT_NEAR(object->width, scaled.width * c + scaled.height * s, 2.0);
    EXPECT_NEAR(object->height, scaled.width * s + scaled.height * c, 2.0);
    long inkBefore = 0, inkAfter = 0;
    for (uint8_t a : scaled.alpha) inkBefore += a;
    for (uint8_t a : object->image.alpha) inkAfter += a;
    EXPECT_NEAR((double)inkAfter, (double)inkBefore, inkBefore * 0.1);
}

TEST_F(TextObjects, SingularTransformsAndSelfCopiesAreRefused)
{
    lvTextObject *object = Make(nullptr, 1, FORM_NORMAL);
    ASSERT_NE(object, nullptr);
    const std::vector<uint8_t> before = object->image.alpha;
    EXPECT_EQ(ScaleTextObject(Fm(), object, 0, 10, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(ScaleTextObject(Fm(), object, 10, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(TransformTextObject(Fm(), object, 0, 1, 1, 1, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(TransformTextObject(Fm(), object, 1, 0, 0, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(object->image.alpha, before);
    lvTextObject *copy = nullptr;
    EXPECT_EQ(CopyTextObjectRecord(lvObjectId{1, nullptr}, 1, false, &copy), ERR_WRONGUSAGE);
    ASSERT_EQ(CopyTextObjectRecord(lvObjectId{1, nullptr}, 2, false, &copy), 0);
    EXPECT_EQ(copy->text, "Type");
    EXPECT_EQ(copy->image.alpha, before);
    // Mirroring keeps the size and flips the pixels.
    ASSERT_EQ(TransformTextObject(Fm(), copy, -1, 0, 0, 1, 0), 0);
    ASSERT_EQ(copy->width, object->width);
    for (int x = 0; x < copy->width; x++)
        ASSERT_EQ(copy->image.alpha[(size_t)3 * copy->width + x],
                  before[(size_t)3 * object->width + object->width - 1 - x]);
    // Freed objects are gone; a number not in use is named in the error.
    EXPECT_EQ(FreeTextObjectById(lvObjectId{2, nullptr}), 0);
    lvTextObject *found = nullptr;
    EXPECT_EQ(FindTextObjectById(lvObjectId{2, nullptr}, &found), ERR_FINDTEXTOBJECT);
    EXPECT_EQ(FindTextObjectById(lvObjectId{0, object}, &found), ERR_FINDARRAY);
    EXPECT_EQ(FindTextObjectById(lvObjectId{1, nullptr}, &found), 0);
    EXPECT_EQ(found, object);
}

// A brush made from a text object is a copy of its current image: colours and coverage
// pixel for pixel, the text object's size, and independent of the object afterwards.
TEST_F(TextObjects, ConvertedToABrushTheImageIsCopied)
{
    lvTextObject *object = Make(Vera(16), 1);
    ASSERT_NE(object, nullptr);
    lvObjectId id = {5, nullptr};
    ASSERT_EQ(ConvertObjectToBrush(nullptr, LV_TYPE_TEXTOBJECT, {1, nullptr}, &id, 1, 0), 0);
    lvBrush *b = nullptr;
    ASSERT_EQ(FindBrushById(nullptr, id, &b, 0), 0);
    EXPECT_EQ(b->width, object->image.width);
    EXPECT_EQ(b->height, object->image.height);
    EXPECT_EQ(b->depth, 32);
    ASSERT_NE(b->alpha, nullptr);
    int partial = 0;
    for (int y = 0; y < b->height; y++)
        for (int x = 0; x < b->width; x++) {
            int64_t colour;
            int alpha;
            ReadBrushPixelValue(b, x, y, &colour, &alpha);
            size_t at = (size_t)y * b->width + x;
            EXPECT_EQ(alpha, object->image.alpha[at]) << x << "," << y;
            if (alpha) {
                EXPECT_EQ((uint32_t)colour, object->image.rgb[at] & 0xFFFFFFu) << x << "," << y;
            }
            partial += alpha > 0 && alpha < 255;
        }
    EXPECT_GT(partial, 0) << "anti-aliased edges keep their coverage";
    lvObjectId other = {6, nullptr};
    EXPECT_EQ(ConvertObjectToBrush(nullptr, LV_TYPE_TEXTOBJECT, {2, nullptr}, &other, 1, 0), ERR_FINDTEXTOBJECT);
    ASSERT_EQ(FreeTextObjectById({1, nullptr}), 0);
    EXPECT_EQ(FindBrushById(nullptr, {5, nullptr}, &b, 0), 0) << "the brush outlives the text object";
    FreeAllBrushes(nullptr);
    // Once the text library closes, text objects are no longer found.
    CloseTextEngine();
    EXPECT_EQ(ConvertObjectToBrush(nullptr, LV_TYPE_TEXTOBJECT, {1, nullptr}, &other, 1, 0), ERR_FINDTEXTOBJECT);
    ASSERT_EQ(OpenTextEngine(nullptr, nullptr), 0);
}

}  // namespace

#include "raster/lvraster.h"
#include "text/lvtextout.h"

namespace {

// A layer engine that records what it is given.
struct LayerRecord {
    int calls = 0, type = 0, x = 0, y = 0, width = 0;
    std::string text;
};
int RecordLayer(void *context, void *, int type, const lvTextOptions *options, const lvTextImage *image, int x,
                int y)
{
    LayerRecord *r = (LayerRecord *)context;
    r->calls++;
    r->type = type, r->x = x, r->y = y, r->width = image->width;
    r->text.assign(options->text, options->length);
    return 0;
}

TEST(TextLayers, ADisplayWithLayersGetsATextLayerInsteadOfPixels)
{
    lvBlitDisplay display{};
    display.target.kind = OUTPUT_DISPLAY;
    display.layers = 1;
    lvBlitDisplay *saved = RasterState.currentDisplay;
    RasterState.currentDisplay = &display;
    lvTextOptions o;
    InitTextOptions(&o, 1);
    const std::string text = "Hi";
    o.text = text.data();
    o.length = text.size();
    lvTextImage image;
    image.width = 16;
    image.height = 9;
    // No layer engine yet: the command is not built.
    SetTextLayerServices(nullptr);
    EXPECT_EQ(OutputTextImage(nullptr, LV_TEXT_TEXTOUT, &o, &image, 5, 6), ERR_UNIMPLCMD);
    LayerRecord record;
    lvTextLayerServices services{&record, RecordLayer, nullptr};
    SetTextLayerServices(&services);
    EXPECT_EQ(OutputTextImage(nullptr, LV_TEXT_PRINT, &o, &image, 5, 6), 0);
    EXPECT_EQ(record.calls, 1);
    EXPECT_EQ(record.type, LV_TEXT_PRINT);
    EXPECT_EQ(record.text, "Hi");
    EXPECT_EQ(record.x, 5);
    EXPECT_EQ(record.y, 6);
    EXPECT_EQ(record.width, 16);
    SetTextLayerServices(nullptr);
    RasterState.currentDisplay = nullptr;
    EXPECT_EQ(OutputTextImage(nullptr, LV_TEXT_TEXTOUT, &o, &image, 0, 0), ERR_OUTPUTDEVICE);
    RasterState.currentDisplay = saved;
}

}  // namespace
