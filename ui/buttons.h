// buttons.h - buttons of BGPics: the button record, making and deleting buttons, the
// hit test, the search order, and the callbacks of mouse buttons and hovering.
//
// A button belongs to the BGPic it was made in and reacts only while that BGPic is
// shown. Layer buttons reach layers through lvButtonLayerService; until the layer
// subsystem installs one, a layer argument answers ERR_LAYERRANGE.
// Files: buttons.cpp (engine), lib_input.cpp (the commands). Script thread only.
#pragma once
#include <cstdint>

#include "ui/events.h"

struct lvBGPic;
struct lvState;

enum : int { SIMPLEBUTTON = 0, LAYERBUTTON = 1 };
enum : int {
    BUTTONFN_OVER = 0, BUTTONFN_OUT, BUTTONFN_DOWN, BUTTONFN_UP, BUTTONFN_RIGHTDOWN, BUTTONFN_RIGHTUP,
    BUTTONFN_MIDDOWN, BUTTONFN_MIDUP, BUTTONFN_COUNT
};
extern const char *const ButtonFunctionNames[BUTTONFN_COUNT];

struct lvBGPicButton {
    lvBGPicButton *next;
    lvEventId identifier;         // {n, 0}, or {0, own address} for a Nil identifier
    int type;                     // SIMPLEBUTTON or LAYERBUTTON
    int left, top, right, bottom; // inclusive; -1 right and bottom for layer buttons
    int enabled;
    int pressedLeft, pressedRight, pressedMiddle;
    int hover;
    int32_t functions[BUTTONFN_COUNT];  // registry references, -1 absent
    void *layer;
    int pixelExact, noAutoHide, zOrder;
    int32_t userData;             // registry reference, -1 none
};

// What buttons need of layers.
struct lvButtonLayerService {
    // The layer at a 1-based position or with a name (name null: by position), or null.
    void *(*FindLayer)(lvBGPic *bgpic, int position, const char *name);
    // The layers from the topmost down: null gives the topmost.
    void *(*NextLayerDown)(lvBGPic *bgpic, void *layer);
    int (*LayerVisible)(void *layer);
    // The layer's rectangle (x, y inclusive, x + width exclusive).
    void (*LayerRect)(void *layer, int *x, int *y, int *width, int *height);
    // 1 when the layer is opaque at the point (display units) or has no pixel test.
    int (*LayerPixelSet)(void *layer, int x, int y);
    void *(*GetLayerButton)(void *layer);
    void (*SetLayerButton)(void *layer, void *button);
    int (*LayerPosition)(lvBGPic *bgpic, void *layer);  // 1-based, -1 not found
    const char *(*LayerName)(void *layer);
};
void SetButtonLayerService(const lvButtonLayerService *service);
const lvButtonLayerService *GetButtonLayerService(void);

// The parsed arguments of MakeButton.
struct lvButtonRequest {
    lvEventId id;                  // {0,0} for Nil
    int nilId;
    int type;
    int x, y, width, height;       // simple button
    int layerPosition;             // layer button: 1-based, or 0 with layerName
    const char *layerName;
    int pixelExact, noAutoHide, zOrder;
    int32_t functions[BUTTONFN_COUNT];
    int32_t userData;
};
// Makes a button in bgpic (references taken over; released on failure). 0 or a code;
// *made gets the record.
int MakeBGPicButton(lvState *L, lvBGPic *bgpic, lvButtonRequest *request, lvBGPicButton **made);
// 0 and the button, ERR_FINDBUTTON (number as argument) or ERR_FINDARRAY.
int FindBGPicButton(lvBGPic *bgpic, lvEventId id, lvBGPicButton **out);
void DeleteBGPicButton(lvState *L, lvBGPic *bgpic, lvBGPicButton *button);
void FreeBGPicButtons(lvState *L, lvBGPic *bgpic);
// Shut-down: the records go; their references go with the machine's registry.
void DiscardBGPicButtons(lvBGPic *bgpic);
void SetButtonEnabled(lvBGPicButton *button, int enabled);
void ClearButtonPresses(lvBGPic *bgpic);
int CountButtons(const lvBGPic *bgpic);
int ButtonIsActive(const lvBGPicButton *button);

// Hit test at a window position.
int ButtonHitTest(const lvDisplay *d, int x, int y, const lvBGPicButton *button);
// The search order: the list (newest first) without z-ordered layer buttons, then the
// z-ordered layer buttons from the topmost layer down.
struct lvButtonIterator {
    lvBGPic *bgpic;
    lvBGPicButton *position;
    void *layer;
    int phase;  // 0 not started, 1 list, 2 layers, 3 done
};
void StartButtons(lvButtonIterator *it, lvBGPic *bgpic);
lvBGPicButton *NextButton(lvButtonIterator *it, int activeOnly);

// The event hooks: mouse-button events on buttons, and hovering.
int MatchButtonEvent(lvState *L, const lvFetchedEvent *event);
int ButtonHoverPass(lvState *L, lvDisplay *d);
// Fields of a button message (kind 1).
void FillButtonFields(const lvEventCallback *record, lvEventMessage *message);
