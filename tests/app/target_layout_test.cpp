#include "app/target_layout.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace {

struct Layout {
    std::int32_t x[5];
    std::int32_t y[5];
};

TEST(LayoutTargets, MultipliesBeforeDividing) {
    Layout l{};
    ASSERT_TRUE(LayoutTargets(5, 1024, 768, l.x, l.y));
    const std::int32_t wantX[5] = {204, 819, 819, 204, 512};
    const std::int32_t wantY[5] = {153, 614, 153, 614, 384};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(l.x[i], wantX[i]) << i;
        EXPECT_EQ(l.y[i], wantY[i]) << i;
    }
    ASSERT_TRUE(LayoutTargets(4, 1920, 1080, l.x, l.y));
    EXPECT_EQ(l.x[1], 1536);
    EXPECT_EQ(l.y[1], 864);
    EXPECT_EQ(l.x[3], 384);
    EXPECT_EQ(l.y[3], 864);
}

TEST(LayoutTargets, CountOutsideOneToFiveWritesNothing) {
    Layout l;
    for (int i = 0; i < 5; ++i) {
        l.x[i] = -7;
        l.y[i] = -7;
    }
    EXPECT_FALSE(LayoutTargets(0, 1024, 768, l.x, l.y));
    EXPECT_FALSE(LayoutTargets(6, 1024, 768, l.x, l.y));
    EXPECT_FALSE(LayoutTargets(255, 1024, 768, l.x, l.y));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(l.x[i], -7);
        EXPECT_EQ(l.y[i], -7);
    }
    EXPECT_TRUE(LayoutTargets(1, 1024, 768, l.x, l.y));
    EXPECT_EQ(l.x[0], 204);
    EXPECT_EQ(l.x[1], -7) << "a count of 1 fills index 0 only";
}

using Offsets = std::vector<std::pair<int, int>>;

void Collect(void* context, std::int32_t a, std::int32_t b) {
    static_cast<Offsets*>(context)->emplace_back(a, b);
}

Offsets OffsetsOf(int radius) {
    Offsets out;
    TraceCircleOffsets(radius, Collect, &out);
    return out;
}

std::set<std::pair<int, int>> PixelsOf(int radius) {
    std::set<std::pair<int, int>> pixels;
    for (const auto& o : OffsetsOf(radius)) {
        const int a = o.first;
        const int b = o.second;
        const std::pair<int, int> eight[8] = {{a, b}, {-a, b}, {a, -b}, {-a, -b},
                                              {b, a}, {-b, a}, {b, -a}, {-b, -a}};
        pixels.insert(std::begin(eight), std::end(eight));
    }
    return pixels;
}

TEST(TraceCircleOffsets, PlotCallsFollowTheMidpointDecision) {
    EXPECT_EQ(OffsetsOf(0), (Offsets{{0, 0}}));
    EXPECT_EQ(OffsetsOf(1), (Offsets{{0, 1}}));
    EXPECT_EQ(OffsetsOf(3), (Offsets{{0, 3}, {1, 3}, {2, 2}})) << "the last call is after the loop";
    EXPECT_EQ(OffsetsOf(5), (Offsets{{0, 5}, {1, 5}, {2, 5}, {3, 4}}));
    EXPECT_TRUE(OffsetsOf(-1).empty());
}

TEST(TraceCircleOffsets, SmallCirclesSetExactlyTheirPixels) {
    EXPECT_EQ(PixelsOf(0), (std::set<std::pair<int, int>>{{0, 0}}));
    EXPECT_EQ(PixelsOf(1), (std::set<std::pair<int, int>>{{0, 1}, {0, -1}, {1, 0}, {-1, 0}}));
    const std::set<std::pair<int, int>> three = {
        {0, 3}, {0, -3}, {3, 0}, {-3, 0}, {1, 3}, {-1, 3}, {1, -3}, {-1, -3},
        {3, 1}, {-3, 1}, {3, -1}, {-3, -1}, {2, 2}, {-2, 2}, {2, -2}, {-2, -2}};
    EXPECT_EQ(PixelsOf(3), three);
}

TEST(TraceCircleOffsets, LargeCircleStaysNearItsRadius) {
    // Every pixel of a realistic target lies within one pixel of the true circle.
    for (const auto& p : PixelsOf(36)) {
        const int r2 = p.first * p.first + p.second * p.second;
        EXPECT_GE(r2, 35 * 35) << p.first << "," << p.second;
        EXPECT_LE(r2, 37 * 37) << p.first << "," << p.second;
    }
    EXPECT_EQ(PixelsOf(36).count({36, 0}), 1u);
}

TEST(TargetRadiusPixels, TruncatesRowsTimesMillimetresOverHeight) {
    EXPECT_EQ(TargetRadiusPixels(10, 1080, 300, 96), 36);
    EXPECT_EQ(TargetRadiusPixels(10, 768, 203, 96), 37);
}

TEST(TargetRadiusPixels, NoPhysicalHeightFallsBackToPixelsPerInch) {
    EXPECT_EQ(TargetRadiusPixels(10, 768, 0, 96), 37) << "10 mm at 96 dpi is 37.8 px";
    EXPECT_EQ(TargetRadiusPixels(10, 768, 0, 254), 100);
    EXPECT_EQ(TargetRadiusPixels(10, 768, -5, 0), 37) << "unknown dpi counts as 96";
}

TEST(CenteredBoxOrigin, HalvesTruncateTowardZero) {
    const BoxOrigin even = CenteredBoxOrigin(0, 0, 1920, 1080, 300, 150);
    EXPECT_EQ(even.x, 810);
    EXPECT_EQ(even.y, 465);
    const BoxOrigin odd = CenteredBoxOrigin(0, 0, 1920, 1080, 301, 151);
    EXPECT_EQ(odd.x, 810);
    EXPECT_EQ(odd.y, 465);
    // A box wider than the window goes left of its edge; a negative window
    // origin is honoured.
    const BoxOrigin wide = CenteredBoxOrigin(-101, 0, 99, 100, 401, 50);
    EXPECT_EQ(wide.x, -101 + 100 - 200);
    EXPECT_EQ(wide.y, 25);
}

}  // namespace
