// images_draw_slots_applet_test.cpp - a plug-in in a linked program draws a clipped
// line, a line at half opacity and polygons into its own buffer through graphics slots
// 24 and 31, and lines that lie off the buffer; its checksum must equal the engine's
// own drawing of the same calls here, and nothing may land outside the buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "images/lvpaint.h"

namespace {

uint32_t ExpectedChecksum() {
    uint32_t px[16 * 12] = {};
    lvPluginClipBounds clip = {2, 2, 10, 7};
    lvPluginTag clipped[] = {{2, 16}, {3, (intptr_t)&clip}, {0, 0}};
    PluginDrawLine((uint8_t *)px, -5, -3, 20, 14, 0x00FF8040, 0, clipped);
    lvPluginTag row[] = {{2, 16}, {0, 0}};
    PluginDrawLine((uint8_t *)px, 0, 11, 15, 0, 0x80FFFFFFu, 1, row);
    int32_t quad[] = {3, 1, 12, 4, 6, 10, 1, 7};
    lvPluginTag moved[] = {{2, 16}, {3, 1}, {4, 0}, {0, 0}};
    EXPECT_EQ(PluginDrawPolygon(px, quad, 4, 0x80FF00FFu, 1, moved), 1);
    uint32_t hash = 2166136261u;
    int painted = 0;
    for (uint32_t v : px) {
        painted += v != 0;
        for (int k = 0; k < 4; k++) hash = (hash ^ ((v >> (8 * k)) & 0xFF)) * 16777619u;
    }
    EXPECT_GT(painted, 40);  // the drawing is not empty
    return hash;
}

std::string RunCommand(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char b[256];
    while (size_t n = fread(b, 1, sizeof b, p)) out.append(b, n);
    pclose(p);
    return out;
}

TEST(PluginDrawSlots, LinkedPluginDrawsWhatTheEngineDraws) {
    char dir[] = "/tmp/lvdrawslotsXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string root = dir, bin = LV_BIN_DIR, plugins = LV_DRAWSLOTS_DIR;
    std::string link = "timeout 30 " + bin + "/lvlink link " + bin + "/lumivarra " + plugins +
                       "/draw_slots_applet.lva -o " + root + "/program --plugin " + plugins +
                       "/drawslots.lvp >/dev/null 2>&1";
    ASSERT_EQ(std::system(link.c_str()), 0);
    ASSERT_EQ(std::system(("mkdir -p " + root + "/tmp").c_str()), 0);
    std::string out = RunCommand("TMPDIR=" + root + "/tmp timeout 30 " + root + "/program 2>/dev/null");
    // The clipped line alone lies within its corners {2, 2, 10, 7}: x 2..9, y 2..6 (a
    // reading as {x, y, width, height} would reach x 11 and y 8).
    EXPECT_EQ(out, "draw: " + std::to_string(ExpectedChecksum()) + "  clip 2..8 2..6\n");
    std::system(("rm -rf " + root).c_str());
}

}  // namespace
