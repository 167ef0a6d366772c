// ReceiveFeature over arbitrary reports, report lengths 0..65535 and
// capacities: it never reads or writes out of bounds, delivers exactly the
// report's own bytes from the right start, and leaves the destination
// untouched beyond them.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/hid_device.h"
#include "tests/fuzz/fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    const std::uint16_t reportLength = TakeU16(&in);
    const auto capacity = static_cast<std::int16_t>(TakeU16(&in));
    const std::uint8_t acceptMask = TakeByte(&in);
    ResetFuzzDevice(acceptMask, reportLength);
    gFuzzDevice.reports.emplace_back(data + in.pos, data + size);

    constexpr std::uint8_t kUntouched = 0xA5;
    const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
    // Exactly `room` bytes on the heap, so a write past the capacity trips
    // AddressSanitizer; a copy with a margin shows untouched bytes.
    std::vector<std::uint8_t> destination(room, kUntouched);
    const std::int32_t count = ReceiveFeature(destination.empty() ? nullptr : destination.data(), capacity);

    if (gFuzzDevice.served.empty()) {
        if (count != 0) std::abort();
    } else {
        const std::vector<std::uint8_t> expected =
            ExpectedDelivery(gFuzzDevice.served.back(), reportLength, capacity);
        if (count != static_cast<std::int32_t>(expected.size())) std::abort();
        if (count > 0 && std::memcmp(destination.data(), expected.data(), expected.size()) != 0) std::abort();
    }
    if (count < 0 || static_cast<std::size_t>(count) > room) std::abort();
    for (std::size_t i = static_cast<std::size_t>(count); i < room; ++i) {
        if (destination[i] != kUntouched) std::abort();
    }
    // At most one read per report ID, and none after one succeeded.
    if (gFuzzDevice.getCalls > 3 || gFuzzDevice.served.size() > 1) std::abort();
    return 0;
}
