// Feature-report transfers with the report-ID fallback 0x55, 0x01, 0x00. The
// device is reached only through PlatformSetFeature / PlatformGetFeature.
//
// Every transfer passes `featureReportLength` as the buffer length, so the
// buffer always holds at least that many bytes: 101 (report ID and the
// 100-byte payload) for the usual controllers, the report length for a
// controller whose feature report is longer. Only the first 101 bytes carry
// data either way: at most 100 payload bytes go out, and at most the report
// ID and 100 bytes take part in trimming and delivery.
#include "device/hid_device.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>

#include "app/session_state.h"

namespace {

constexpr std::uint8_t kReportIds[3] = {0x55, 0x01, 0x00};

// A zero-filled transfer buffer of max(101, featureReportLength) bytes: on
// the stack for the usual lengths, on the heap above. Null only when the
// heap allocation failed.
class TransferBuffer {
public:
    TransferBuffer() {
        const std::size_t reportLength = gSession.featureReportLength;
        if (reportLength <= sizeof local_) {
            data_ = local_;
            size_ = sizeof local_;
        } else {
            heap_ = static_cast<std::uint8_t*>(std::calloc(reportLength, 1));
            data_ = heap_;
            size_ = heap_ != nullptr ? reportLength : 0;
        }
        Clear();
    }
    ~TransferBuffer() { std::free(heap_); }
    TransferBuffer(const TransferBuffer&) = delete;
    TransferBuffer& operator=(const TransferBuffer&) = delete;

    std::uint8_t* data() { return data_; }
    void Clear() {
        if (data_ != nullptr) std::memset(data_, 0, size_);
    }

private:
    std::uint8_t local_[kFeatureBufferSize];
    std::uint8_t* heap_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

bool TouchDeviceOpen() {
    return gSession.device != nullptr && gSession.device != INVALID_HANDLE_VALUE;
}

bool SendFeature(const std::uint8_t* bytes, std::int32_t length) {
    if (!TouchDeviceOpen()) return false;
    TransferBuffer buffer;
    std::uint8_t* data = buffer.data();
    if (data == nullptr) return false;
    const std::int32_t count = bytes == nullptr ? 0 : std::clamp(length, 0, kFeaturePayloadMax);
    if (count > 0) std::memcpy(data + 1, bytes, static_cast<std::size_t>(count));
    for (const std::uint8_t reportId : kReportIds) {
        data[0] = reportId;
        if (PlatformSetFeature(gSession.device, data, gSession.featureReportLength)) return true;
        // A controller that is gone takes no other report ID either.
        if (gSession.deviceGone) return false;
    }
    return false;
}

std::int32_t ReceiveFeature(std::uint8_t* destination, std::int32_t capacity) {
    if (!TouchDeviceOpen()) return 0;
    TransferBuffer buffer;
    std::uint8_t* data = buffer.data();
    if (data == nullptr) return 0;
    bool received = false;
    for (const std::uint8_t reportId : kReportIds) {
        // A refused read must not leave anything behind for the next attempt.
        buffer.Clear();
        data[0] = reportId;
        if (PlatformGetFeature(gSession.device, data, gSession.featureReportLength)) {
            received = true;
            break;
        }
        if (gSession.deviceGone) return 0;
    }
    if (!received) return 0;

    // Trim trailing zeros over the report ID and at most 100 payload bytes.
    std::int32_t n = std::min<std::int32_t>(gSession.featureReportLength, kFeatureBufferSize);
    while (n > 0 && data[n - 1] == 0) --n;

    // A report that begins with 0x01 is delivered from its ID byte on.
    const std::int32_t start = data[0] == 0x01 ? 0 : 1;
    std::int32_t count = n - start;
    if (count <= 0 || destination == nullptr || capacity <= 0) return 0;
    count = std::min(count, capacity);
    std::memcpy(destination, data + start, static_cast<std::size_t>(count));
    return count;
}
