#include "app/target_layout.h"

bool LayoutTargets(std::uint8_t count, std::int32_t width, std::int32_t height,
                   std::int32_t* targetX, std::int32_t* targetY) {
    if (count < 1 || count > 5) {
        return false;
    }
    // Multiplication before division: (4 * W) / 5, not 4 * (W / 5).
    const std::int32_t nearX = width / 5;
    const std::int32_t nearY = height / 5;
    const std::int32_t farX = (4 * width) / 5;
    const std::int32_t farY = (4 * height) / 5;
    const std::int32_t xs[5] = {nearX, farX, farX, nearX, width / 2};
    const std::int32_t ys[5] = {nearY, farY, nearY, farY, height / 2};
    for (int i = 0; i < count; ++i) {
        targetX[i] = xs[i];
        targetY[i] = ys[i];
    }
    return true;
}

void TraceCircleOffsets(std::int32_t radius, CirclePlotFunction plot, void* context) {
    if (radius < 0) {
        return;
    }
    std::int32_t x = 0;
    std::int32_t y = radius;
    std::int32_t d = 3 - 2 * radius;
    while (x < y) {
        plot(context, x, y);
        if (d < 0) {
            d += 4 * x + 6;
        } else {
            d += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    if (x == y) {
        plot(context, x, y);
    }
}

std::int32_t TargetRadiusPixels(std::int32_t radiusMm, std::int32_t verticalPixels,
                                std::int32_t verticalMillimetres, std::int32_t pixelsPerInchY) {
    if (verticalMillimetres > 0) {
        // 64-bit product: a huge reported resolution cannot overflow.
        return static_cast<std::int32_t>(static_cast<std::int64_t>(verticalPixels) * radiusMm /
                                         verticalMillimetres);
    }
    const std::int64_t dpi = pixelsPerInchY > 0 ? pixelsPerInchY : 96;
    // One inch is 25.4 mm: radius = mm * dpi * 10 / 254.
    return static_cast<std::int32_t>(static_cast<std::int64_t>(radiusMm) * dpi * 10 / 254);
}

BoxOrigin CenteredBoxOrigin(std::int32_t mainLeft, std::int32_t mainTop, std::int32_t mainRight,
                            std::int32_t mainBottom, std::int32_t boxWidth,
                            std::int32_t boxHeight) {
    BoxOrigin origin;
    origin.x = mainLeft + (mainRight - mainLeft) / 2 - boxWidth / 2;
    origin.y = mainTop + (mainBottom - mainTop) / 2 - boxHeight / 2;
    return origin;
}
