#include "tests/fuzz/fuzz_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "device/hid_device.h"

FuzzDevice gFuzzDevice;

namespace {

bool Accepts(std::uint8_t reportId) {
    switch (reportId) {
        case 0x55: return (gFuzzDevice.acceptMask & 1) != 0;
        case 0x01: return (gFuzzDevice.acceptMask & 2) != 0;
        case 0x00: return (gFuzzDevice.acceptMask & 4) != 0;
        default: return false;
    }
}

// The program's buffer must hold the whole report length: touch every byte
// so AddressSanitizer sees a short buffer.
void CheckLength(const void* buffer, std::uint32_t length) {
    if (length != gFuzzDevice.reportLength) std::abort();
    volatile std::uint8_t sink = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < length; ++i) sink = static_cast<std::uint8_t>(sink ^ bytes[i]);
    (void)sink;
}

}  // namespace

void ResetFuzzDevice(std::uint8_t acceptMask, std::uint16_t reportLength) {
    gFuzzDevice = FuzzDevice{};
    gFuzzDevice.acceptMask = acceptMask;
    gFuzzDevice.reportLength = reportLength;
    gSession.device = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000));
    gSession.featureReportLength = reportLength;
}

bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    if (device != gSession.device) std::abort();
    CheckLength(buffer, length);
    ++gFuzzDevice.setCalls;
    const std::uint8_t reportId = length > 0 ? static_cast<std::uint8_t*>(buffer)[0] : 0;
    if (reportId == 0x55) ++gFuzzDevice.sends;
    return length > 0 && Accepts(reportId);
}

bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    if (device != gSession.device) std::abort();
    CheckLength(buffer, length);
    ++gFuzzDevice.getCalls;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::uint8_t reportId = length > 0 ? bytes[0] : 0;
    if (reportId == 0x55) ++gFuzzDevice.polls;
    if (length == 0 || !Accepts(reportId)) return false;
    std::vector<std::uint8_t> report(length, 0);
    if (!gFuzzDevice.reports.empty()) {
        const std::size_t index = std::min(gFuzzDevice.nextReport, gFuzzDevice.reports.size() - 1);
        const std::vector<std::uint8_t>& next = gFuzzDevice.reports[index];
        std::copy_n(next.begin(), std::min<std::size_t>(next.size(), length), report.begin());
        ++gFuzzDevice.nextReport;
    }
    std::memcpy(bytes, report.data(), length);
    gFuzzDevice.served.push_back(report);
    return true;
}

void WaitMilliseconds(std::uint32_t milliseconds) {
    gFuzzDevice.waitedMs += milliseconds;
}

std::vector<std::uint8_t> ExpectedDelivery(const std::vector<std::uint8_t>& report,
                                           std::uint16_t reportLength, std::int32_t capacity) {
    std::size_t n = std::min<std::size_t>({reportLength, 101, report.size()});
    while (n > 0 && report[n - 1] == 0) --n;
    const std::size_t start = !report.empty() && report[0] == 0x01 ? 0 : 1;
    if (n <= start || capacity <= 0) return {};
    const std::size_t count = std::min<std::size_t>(n - start, static_cast<std::size_t>(capacity));
    return std::vector<std::uint8_t>(report.begin() + static_cast<std::ptrdiff_t>(start),
                                     report.begin() + static_cast<std::ptrdiff_t>(start + count));
}
