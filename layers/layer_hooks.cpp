// layer_hooks.cpp - the producers on lower floors that hand their drawings to the layer
// engine, and the BGPic teardown that takes a BGPic's layers with it.
//
// Depends on: layers/lvlayer.h, images/lvbgpic.h.
// Limits: script thread only.
#include "layers/lvlayer.h"

static void FreeLayersOfBGPic(lvBGPic *record) { FreeLayerList(nullptr, record, 0); }

void InstallProducerTables(int on) { SetBGPicLayerFreer(on ? FreeLayersOfBGPic : nullptr); }
