// lib_brush_cmds.h - what the files of the "brush" command library share among
// themselves: the command functions, which lib_brush.cpp lists in its table, and the
// argument helpers more than one theme file uses. Internal to the library.
//
// Depends on: the headers below. Script thread only.
#pragma once
#include <climits>
#include <cstdio>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvimagecmd.h"
#include "formats/lvsavers.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lveffects.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvgradient_args.h"
#include "raster/lvimage.h"
#include "raster/lvinit.h"
#include "raster/lvneighbours.h"
#include "raster/lvraster.h"
#include "raster/lvquantize.h"
#include "raster/lvrect.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/vfile.h"

// An identifier, or Nil for a handle; a number in use is released first.
int NewBrushIdArg(lvState *L, int index, lvObjectId *id);
// The active-brush check and the look-up of a brush a command changes.
int FindChangingBrush(lvState *L, int index, int flags, lvBrush **b);
// The new planes of a transform replace the old ones; a plain bitmap in place of a video
// bitmap drops the hardware fields.
void StoreTransformedPlanes(lvBrush *b, lvImageSetOut *out);

// ---- Loading and making brushes (lib_brush.cpp) ----------------------------------------------
int CmdLoadBrush(lvState *L);
int CmdCreateBrush(lvState *L);
int CmdFreeBrush(lvState *L);
int CmdCreateGradientBrush(lvState *L);
int CmdCreateTexturedBrush(lvState *L);

// ---- Drawing and geometry (lib_brush_geometry.cpp) -------------------------------------------
int CmdDisplayBrush(lvState *L);
int CmdDisplayBrushPart(lvState *L);
int CmdScaleBrush(lvState *L);
int CmdRotateBrush(lvState *L);
int CmdTransformBrush(lvState *L);
int CmdCropBrush(lvState *L);
int CmdTrimBrush(lvState *L);
int CmdExtendBrush(lvState *L);
int CmdFlipBrush(lvState *L);
int CmdCopyBrush(lvState *L);
int CmdRasterizeBrush(lvState *L);

// ---- Transparency, pixels, arrays and pens (lib_brush_pixels.cpp) ----------------------------
int CmdSetBrushTransparency(lvState *L);
int CmdChangeBrushTransparency(lvState *L);
int CmdDeleteMask(lvState *L);
int CmdDeleteAlphaChannel(lvState *L);
int CmdReduceAlphaChannel(lvState *L);
int CmdIsBrushEmpty(lvState *L);
int CmdReadBrushPixel(lvState *L);
int CmdWriteBrushPixel(lvState *L);
int CmdBrushToRGBArray(lvState *L);
int CmdRGBArrayToBrush(lvState *L);
int CmdBrushToPenArray(lvState *L);
int CmdPenArrayToBrush(lvState *L);
int CmdSetBrushPen(lvState *L);
int CmdGetBrushPen(lvState *L);
int CmdSetBrushTransparentPen(lvState *L);
int CmdSetBrushDepth(lvState *L);
int CmdSetBrushPalette(lvState *L);
int CmdRemoveBrushPalette(lvState *L);

// ---- Effects (lib_brush_effects.cpp) ---------------------------------------------------------
int CmdTintBrush(lvState *L);
int CmdInvertBrush(lvState *L);
int CmdBrushToGray(lvState *L);
int CmdSolarizeBrush(lvState *L);
int CmdGammaBrush(lvState *L);
int CmdContrastBrush(lvState *L);
int CmdModulateBrush(lvState *L);
int CmdSepiaToneBrush(lvState *L);
int CmdCharcoalBrush(lvState *L);
int CmdOilPaintBrush(lvState *L);
int CmdBrushToMonochrome(lvState *L);
int CmdBlurBrush(lvState *L);
int CmdEmbossBrush(lvState *L);
int CmdEdgeBrush(lvState *L);
int CmdSharpenBrush(lvState *L);
int CmdInvertMask(lvState *L);
int CmdInvertAlphaChannel(lvState *L);
int CmdSwirlBrush(lvState *L);
int CmdPixelateBrush(lvState *L);
int CmdWaterRippleBrush(lvState *L);
int CmdPerspectiveDistortBrush(lvState *L);
int CmdArcDistortBrush(lvState *L);
int CmdPolarDistortBrush(lvState *L);
int CmdBarrelDistortBrush(lvState *L);
int CmdReplaceColors(lvState *L);
int CmdMixBrush(lvState *L);
int CmdFloodFill(lvState *L);

// ---- Conversion, saving, quantising (lib_brush_convert.cpp) ----------------------------------
int CmdConvertToBrush(lvState *L);
int CmdGetBrushLink(lvState *L);
int CmdCreateShadowBrush(lvState *L);
int CmdCreateBorderBrush(lvState *L);
int CmdSaveBrush(lvState *L);
int CmdQuantizeBrush(lvState *L);
int CmdRemapBrush(lvState *L);
