// Report descriptors of the virtual devices (see vc_descriptor.h).
#include "tools/virtual-controller/vc_descriptor.h"

#include <algorithm>

namespace {

// Short item prefixes (tag | type), the size code added when emitted.
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kUsagePage = 0x04;
constexpr std::uint8_t kLogicalMinimum = 0x14;
constexpr std::uint8_t kLogicalMaximum = 0x24;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kUsage = 0x08;
constexpr std::uint8_t kUsageMinimum = 0x18;
constexpr std::uint8_t kUsageMaximum = 0x28;

// Main item data bits.
constexpr std::uint32_t kConstant = 0x01;
constexpr std::uint32_t kVariable = 0x02;
constexpr std::uint32_t kRelative = 0x04;

constexpr std::int32_t kFeatureChunk = 4096;

void Emit(std::vector<std::uint8_t>* out, std::uint8_t prefix, std::uint32_t value, int bytes) {
    const std::uint8_t sizeCode = bytes == 4 ? 3 : static_cast<std::uint8_t>(bytes);
    out->push_back(static_cast<std::uint8_t>(prefix | sizeCode));
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Unsigned data (usages, sizes, counts) in the fewest bytes.
void EmitUnsigned(std::vector<std::uint8_t>* out, std::uint8_t prefix, std::uint32_t value) {
    Emit(out, prefix, value, value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4);
}

// Signed data (logical limits) in the fewest bytes that keep the sign.
void EmitSigned(std::vector<std::uint8_t>* out, std::uint8_t prefix, std::int32_t value) {
    const int bytes = (value >= -128 && value <= 127) ? 1 : (value >= -32768 && value <= 32767) ? 2 : 4;
    Emit(out, prefix, static_cast<std::uint32_t>(value), bytes);
}

// Logical minimum of an input value: 0, or the maximum itself when that is
// negative, so the range stays valid.
std::int32_t ValueMinimum(std::int32_t maximum) { return std::min<std::int32_t>(maximum, 0); }

// Bits of an input value's field: 16 when its range fits, else 32.
int ValueBits(std::int32_t maximum) {
    const std::int32_t minimum = ValueMinimum(maximum);
    const bool fits16 = (minimum >= 0 && maximum <= 0xFFFF) || (minimum >= -32768 && maximum <= 32767);
    return fits16 ? 16 : 32;
}

int ValueCount(const VcDeviceInfo& info) { return std::clamp(info.valueCapCount, 0, kVcMaxValueCaps); }

void EmitValues(std::vector<std::uint8_t>* out, const VcDeviceInfo& info) {
    const int count = ValueCount(info);
    if (count == 0) return;
    EmitUnsigned(out, kUsagePage, 0x01);  // generic desktop
    for (int i = 0; i < count; ++i) {
        const std::int32_t maximum = info.logicalMax[i];
        EmitUnsigned(out, kUsage, 0x30u + static_cast<std::uint32_t>(i));  // X, Y, Z
        EmitSigned(out, kLogicalMinimum, ValueMinimum(maximum));
        EmitSigned(out, kLogicalMaximum, maximum);
        EmitUnsigned(out, kReportSize, static_cast<std::uint32_t>(ValueBits(maximum)));
        EmitUnsigned(out, kReportCount, 1);
        EmitUnsigned(out, kInput, kVariable);
    }
}

void EmitFeatureReport(std::vector<std::uint8_t>* out, std::uint16_t featureReportLength) {
    if (featureReportLength == 0) return;
    Emit(out, kUsagePage, 0xFF00, 2);  // vendor defined
    EmitSigned(out, kLogicalMinimum, 0);
    EmitSigned(out, kLogicalMaximum, 255);
    EmitUnsigned(out, kReportSize, 8);
    std::int32_t remaining = featureReportLength - 1;
    do {
        const std::int32_t chunk = std::min(remaining, kFeatureChunk);
        EmitUnsigned(out, kUsage, 0x01);
        EmitUnsigned(out, kReportCount, static_cast<std::uint32_t>(chunk));
        EmitUnsigned(out, kFeature, kVariable);
        remaining -= chunk;
    } while (remaining > 0);
}

std::vector<std::uint8_t> ControllerDescriptor(const VcDeviceInfo& info) {
    std::vector<std::uint8_t> out;
    EmitUnsigned(&out, kUsagePage, 0x0D);  // digitizer
    EmitUnsigned(&out, kUsage, 0x04);      // touch screen
    EmitUnsigned(&out, kCollection, 0x01);  // application
    // The tip switch in bit 0 of the first byte, seven constant pad bits
    // after it: a button, never a value.
    EmitUnsigned(&out, kUsage, 0x42);  // tip switch
    EmitSigned(&out, kLogicalMinimum, 0);
    EmitSigned(&out, kLogicalMaximum, 1);
    EmitUnsigned(&out, kReportSize, 1);
    EmitUnsigned(&out, kReportCount, 1);
    EmitUnsigned(&out, kInput, kVariable);
    EmitUnsigned(&out, kReportSize, 7);
    EmitUnsigned(&out, kInput, kConstant | kVariable);
    EmitValues(&out, info);
    EmitFeatureReport(&out, info.featureReportLength);
    out.push_back(kEndCollection);
    return out;
}

std::vector<std::uint8_t> MouseDescriptor() {
    std::vector<std::uint8_t> out;
    EmitUnsigned(&out, kUsagePage, 0x01);   // generic desktop
    EmitUnsigned(&out, kUsage, 0x02);       // mouse
    EmitUnsigned(&out, kCollection, 0x01);  // application
    EmitUnsigned(&out, kUsage, 0x01);       // pointer
    EmitUnsigned(&out, kCollection, 0x00);  // physical
    EmitUnsigned(&out, kUsagePage, 0x09);   // buttons 1 to 3
    EmitUnsigned(&out, kUsageMinimum, 1);
    EmitUnsigned(&out, kUsageMaximum, 3);
    EmitSigned(&out, kLogicalMinimum, 0);
    EmitSigned(&out, kLogicalMaximum, 1);
    EmitUnsigned(&out, kReportCount, 3);
    EmitUnsigned(&out, kReportSize, 1);
    EmitUnsigned(&out, kInput, kVariable);
    EmitUnsigned(&out, kReportCount, 1);    // pad to the byte
    EmitUnsigned(&out, kReportSize, 5);
    EmitUnsigned(&out, kInput, kConstant | kVariable);
    EmitUnsigned(&out, kUsagePage, 0x01);   // X and Y, relative
    EmitUnsigned(&out, kUsage, 0x30);
    EmitUnsigned(&out, kUsage, 0x31);
    EmitSigned(&out, kLogicalMinimum, -127);
    EmitSigned(&out, kLogicalMaximum, 127);
    EmitUnsigned(&out, kReportSize, 8);
    EmitUnsigned(&out, kReportCount, 2);
    EmitUnsigned(&out, kInput, kVariable | kRelative);
    out.push_back(kEndCollection);
    out.push_back(kEndCollection);
    return out;
}

}  // namespace

std::vector<std::uint8_t> VcReportDescriptor(const VcDeviceInfo& info) {
    return info.isController ? ControllerDescriptor(info) : MouseDescriptor();
}

bool VcTouchInputReport(const VcDeviceInfo& info, bool tip, std::int64_t x, std::int64_t y,
                        std::vector<std::uint8_t>* report) {
    const int count = ValueCount(info);
    if (!info.isController || count < 2 || info.logicalMax[0] <= 0 || info.logicalMax[1] <= 0) {
        return false;
    }
    report->assign(1, tip ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        const std::int64_t maximum = info.logicalMax[i];
        const std::int64_t wanted = i == 0 ? x : i == 1 ? y : 0;
        const std::int64_t value = std::clamp<std::int64_t>(wanted, ValueMinimum(info.logicalMax[i]), maximum);
        const int bytes = ValueBits(info.logicalMax[i]) / 8;
        for (int b = 0; b < bytes; ++b) {
            report->push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * b)));
        }
    }
    return true;
}
