// ReadTouchPoint over arbitrary feature data: the outputs are written only
// when a complete packet exists, and then hold the last complete packet's
// coordinates.
#include <cstdlib>
#include <vector>

#include "device/controller_protocol.h"
#include "tests/fuzz/fuzz_device.h"

namespace {

// The bytes ReadTouchPoint scans: a cleared 100-byte buffer with the
// delivered report at its start.
bool LastCompletePacket(const std::vector<std::uint8_t>& delivered, std::uint16_t* x, std::uint16_t* y) {
    std::uint8_t scan[100] = {};
    for (std::size_t i = 0; i < delivered.size() && i < sizeof scan; ++i) scan[i] = delivered[i];
    bool found = false;
    for (int k = 0; k < 88; ++k) {
        if (scan[k] == 'U' && scan[k + 1] == 'T' && scan[k + 10] == 'U' && scan[k + 11] == 'T') {
            *x = static_cast<std::uint16_t>(scan[k + 3] | (scan[k + 4] << 8));
            *y = static_cast<std::uint16_t>(scan[k + 5] | (scan[k + 6] << 8));
            found = true;
        }
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    // Mostly the usual 101-byte report; sometimes a short or a long one.
    const std::uint8_t lengthChoice = TakeByte(&in);
    const std::uint16_t reportLength =
        lengthChoice < 200 ? 101 : static_cast<std::uint16_t>(lengthChoice == 255 ? 4096 : lengthChoice - 190);
    ResetFuzzDevice(TakeByte(&in) | 1, reportLength);
    gFuzzDevice.reports.emplace_back(data + in.pos, data + size);

    const std::uint16_t before = static_cast<std::uint16_t>(size * 7919u);
    std::uint16_t x = before;
    std::uint16_t y = static_cast<std::uint16_t>(~before);
    const bool found = ReadTouchPoint(&x, &y);

    std::uint16_t wantX = 0;
    std::uint16_t wantY = 0;
    bool want = false;
    if (!gFuzzDevice.served.empty()) {
        want = LastCompletePacket(ExpectedDelivery(gFuzzDevice.served.back(), reportLength, 100), &wantX, &wantY);
    }
    if (found != want) std::abort();
    if (found && (x != wantX || y != wantY)) std::abort();
    if (!found && (x != before || y != static_cast<std::uint16_t>(~before))) std::abort();
    // A touch read neither sends nor waits.
    if (gFuzzDevice.setCalls != 0 || gFuzzDevice.waitedMs != 0) std::abort();
    return 0;
}
