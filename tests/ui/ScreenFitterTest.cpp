#include "ui/ScreenFitter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

struct FitCase {
    const char* name;
    std::optional<CScreenFitter::ClientRect> client;
    bool exact;
    int drawX, drawY, drawWidth, drawHeight;
    double scale;
    // Window positions and the panel positions they map to.
    std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>> taps;
};

const FitCase kFitCases[] = {
    {"panel size",
     CScreenFitter::ClientRect{0, 0, 480, 588},
     true,
     0,
     0,
     480,
     588,
     1.0,
     {{{60, 300}, {60, 300}}, {{479, 587}, {479, 587}}}},
    {"handset portrait",
     CScreenFitter::ClientRect{0, 0, 480, 640},
     true,
     0,
     26,
     480,
     588,
     1.0,
     {{{60, 300}, {60, 274}}, {{0, 20}, {0, -6}}}},
    {"odd extra height",
     CScreenFitter::ClientRect{0, 0, 480, 591},
     true,
     0,
     1,
     480,
     588,
     1.0,
     {{{10, 1}, {10, 0}}}},
    {"wider",
     CScreenFitter::ClientRect{0, 0, 600, 588},
     true,
     60,
     0,
     480,
     588,
     1.0,
     {{{60, 10}, {0, 10}}, {{539, 10}, {479, 10}}}},
    {"half size",
     CScreenFitter::ClientRect{0, 0, 240, 320},
     false,
     0,
     13,
     240,
     294,
     0.5,
     {{{120, 160}, {240, 294}}, {{0, 12}, {0, -2}}}},
    // sy < sx: the height decides; 480 / 588 * 480 = 391.8 is cut to 391.
    {"landscape",
     CScreenFitter::ClientRect{0, 0, 640, 480},
     false,
     124,
     0,
     391,
     480,
     480.0 / 588.0,
     // (120 - 124) / 0.816 = -4.9 goes toward zero, to -4, not to -5.
     {{{124, 0}, {0, 0}}, {{320, 240}, {240, 294}}, {{120, 1}, {-4, 1}}}},
    {"unreadable", std::nullopt, true, 0, 0, 480, 588, 1.0, {{{100, 100}, {100, 100}}}},
    {"empty",
     CScreenFitter::ClientRect{0, 0, 0, 0},
     true,
     0,
     0,
     480,
     588,
     1.0,
     {{{100, 100}, {100, 100}}}},
};

TEST(ScreenFitterTest, GeometryAndPenMappingForEachClientArea) {
    for (const FitCase& c : kFitCases) {
        SCOPED_TRACE(c.name);
        const CScreenFitter fitter(c.client);
        EXPECT_EQ(fitter.Exact(), c.exact);
        EXPECT_EQ(fitter.DrawX(), c.drawX);
        EXPECT_EQ(fitter.DrawY(), c.drawY);
        if (!c.exact) {
            EXPECT_EQ(fitter.DrawWidth(), c.drawWidth);
            EXPECT_EQ(fitter.DrawHeight(), c.drawHeight);
        }
        EXPECT_DOUBLE_EQ(fitter.Scale(), c.scale);
        for (const auto& [window, panel] : c.taps) {
            EXPECT_EQ(fitter.MapX(window.first), panel.first) << "x " << window.first;
            EXPECT_EQ(fitter.MapY(window.second), panel.second) << "y " << window.second;
        }
    }
}

TEST(ScreenFitterTest, AClientAreaThatCannotBeReadIsTakenAsThePanelsOwn) {
    const CScreenFitter fitter(std::nullopt);
    EXPECT_EQ(fitter.Client().right, 480);
    EXPECT_EQ(fitter.Client().bottom, 588);
}

}  // namespace
