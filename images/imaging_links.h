// imaging_links.h - the raster engine's quantiser and gradient renderer handed to the
// BGPics and brushes, the palette-format savers and the style filter chain.
#pragma once

// Installs the links; called at start-up after the image effects are installed.
void InstallImagingLinks(void);
