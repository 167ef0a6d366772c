// The misclick measure: how far the four touches of a pass lie from the
// targets' shape, in screen pixels, whatever the panel does to them.
#include <gtest/gtest.h>

#include <cmath>

#include "app/misclick.h"
#include "app/target_layout.h"

namespace {

// Raw points of touches on a 1024 x 768 screen at the targets moved by
// (dx[i], dy[i]) pixels, through a panel raw = 65535 * (a u + b v + c, d u +
// e v + f) of u = x / W, v = y / H.
struct Panel {
    double a, b, c, d, e, f;
};

std::int32_t Miss(const Panel& p, const int dx[4], const int dy[4]) {
    std::int32_t tx[4];
    std::int32_t ty[4];
    LayoutTargets(4, 1024, 768, tx, ty);
    RawPoint raw[4];
    for (int i = 0; i < 4; ++i) {
        const double u = (tx[i] + dx[i]) / 1024.0;
        const double v = (ty[i] + dy[i]) / 768.0;
        raw[i] = {static_cast<std::int32_t>(std::lround(65535 * (p.a * u + p.b * v + p.c))),
                  static_cast<std::int32_t>(std::lround(65535 * (p.d * u + p.e * v + p.f)))};
    }
    return TouchShapeMissPx(raw, tx, ty);
}

TEST(Misclick, MeasuresTheMissInScreenPixelsOnEveryPanel) {
    const Panel panels[] = {
        {1, 0, 0, 0, 1, 0},                                  // straight
        {-1, 0, 1, 0, 1, 0},                                 // mirrored
        {0, 1, 0, 1, 0, 0},                                  // swapped
        {0.6, 0, 0.2, 0, 0.7, 0.15},                         // scaled
        {0.8988, -0.0471, 0.0742, 0.0471, 0.8988, 0.0270},   // turned 3 degrees, 0.9
    };
    const int none[4] = {0, 0, 0, 0};
    const int jitter[4] = {3, 3, -3, -3};  // the worst of +-3 pixels on each axis
    const int third200[4] = {0, 0, 200, 0};
    const int first16[4] = {0, -16, 0, 0};
    const int first14[4] = {14, 0, 0, 0};
    for (const Panel& p : panels) {
        EXPECT_LE(Miss(p, none, none), 1) << p.a;
        EXPECT_LE(Miss(p, jitter, jitter), 13) << "jitter is no misclick";
        EXPECT_GT(Miss(p, third200, none), 150) << "a touch 200 px off";
        EXPECT_GT(Miss(p, none, first16), 15);
        EXPECT_LT(Miss(p, first14, none), 15);
    }
}

TEST(Misclick, FourPointsOnOneLineHaveNoShape) {
    const std::int32_t tx[4] = {204, 819, 819, 204};
    const std::int32_t ty[4] = {153, 614, 153, 614};
    const RawPoint same[4] = {{100, 100}, {100, 100}, {100, 100}, {100, 100}};
    const RawPoint line[4] = {{100, 50}, {200, 50}, {300, 50}, {401, 50}};
    EXPECT_EQ(TouchShapeMissPx(same, tx, ty), -1);
    EXPECT_EQ(TouchShapeMissPx(line, tx, ty), -1);
}

}  // namespace
