#include "app/misclick.h"

namespace {

struct Vector {
    std::int64_t x;
    std::int64_t y;
};

std::int64_t Cross(const Vector& a, const Vector& b) { return a.x * b.y - a.y * b.x; }

std::int64_t Magnitude(std::int64_t v) { return v < 0 ? -v : v; }

}  // namespace

std::int32_t TouchShapeMissPx(const RawPoint raw[kTargetCount], const std::int32_t targetX[kTargetCount],
                              const std::int32_t targetY[kTargetCount]) {
    const RawPoint& p0 = raw[0];
    const RawPoint& p1 = raw[1];
    const RawPoint& p2 = raw[2];
    const RawPoint& p3 = raw[3];
    // Right targets minus left ones, lower minus upper, and the corner off
    // the parallelogram, in raw units (at most 2^18 each).
    const Vector across = {std::int64_t{p1.x} + p2.x - p0.x - p3.x, std::int64_t{p1.y} + p2.y - p0.y - p3.y};
    const Vector down = {std::int64_t{p1.x} + p3.x - p0.x - p2.x, std::int64_t{p1.y} + p3.y - p0.y - p2.y};
    const Vector off = {std::int64_t{p0.x} + p1.x - p2.x - p3.x, std::int64_t{p0.y} + p1.y - p2.y - p3.y};
    const std::int64_t area = Cross(across, down);
    if (area == 0) return -1;
    // `across` spans twice the targets' width and `down` twice their
    // height: `off` in those terms, times those spans, is the miss in
    // pixels (products below 2^55).
    const std::int64_t width = std::int64_t{targetX[1]} - targetX[0];
    const std::int64_t height = std::int64_t{targetY[1]} - targetY[0];
    const std::int64_t missX = Magnitude(2 * width * Cross(off, down) / area);
    const std::int64_t missY = Magnitude(2 * height * Cross(across, off) / area);
    const std::int64_t miss = missX > missY ? missX : missY;
    return miss > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(miss);
}

bool TouchesMissTargets(std::int32_t* missPx) {
    if (gSession.misclickPx <= 0) return false;
    const std::int32_t miss = TouchShapeMissPx(gSession.rawPoints, gSession.targetX, gSession.targetY);
    if (miss <= gSession.misclickPx) return false;
    *missPx = miss;
    return true;
}
