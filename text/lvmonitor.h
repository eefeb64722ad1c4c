// lvmonitor.h - the resource monitor's display and text drawn by the text
// engine (the object library's monitor hooks), for runs without layers.
//
// Depends on: runtime/libs_core.h, ui/display.h. Limits: script thread only.
#pragma once

// Installs the monitor hooks (the text library's open).
void InstallTextResourceMonitor();
// Removes them and forgets the monitor display (the text library's close;
// the display library frees the display itself).
void RemoveTextResourceMonitor();
