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
constexpr std::uint8_t kReportId = 0x84;

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

// An input value's field as the descriptor declares it.
struct ValueField {
    std::int32_t minimum;
    std::int64_t maximum;  // as the kernel reads it: unsigned over a minimum of 0
    int bits;              // 16 when the range fits, else 32
};

// Input value `i`: logical minimum 0, or the maximum itself when that is
// negative, so the range stays valid; with logicalMaxBytes a minimum of 0
// and a maximum of that many low bytes, which the kernel reads unsigned.
ValueField FieldOf(const VcDeviceInfo& info, int i) {
    const std::int32_t maximum = info.logicalMax[i];
    const std::int32_t minimum = info.logicalMaxBytes != 0 ? 0 : std::min<std::int32_t>(maximum, 0);
    const bool fits16 = info.logicalMaxBytes == 1 || info.logicalMaxBytes == 2 ||
                        (minimum >= 0 && maximum <= 0xFFFF) ||
                        (minimum >= -32768 && maximum <= 32767);
    std::int64_t read = maximum;
    if (info.logicalMaxBytes == 1 || info.logicalMaxBytes == 2) {
        read = static_cast<std::uint32_t>(maximum) & ((1u << (8 * info.logicalMaxBytes)) - 1);
    }
    return {minimum, read, fits16 ? 16 : 32};
}

int ValueCount(const VcDeviceInfo& info) { return std::clamp(info.valueCapCount, 0, kVcMaxValueCaps); }

void EmitValues(std::vector<std::uint8_t>* out, const VcDeviceInfo& info) {
    const int count = ValueCount(info);
    if (count == 0) return;
    EmitUnsigned(out, kUsagePage, 0x01);  // generic desktop
    for (int i = 0; i < count; ++i) {
        const std::int32_t maximum = info.logicalMax[i];
        const ValueField field = FieldOf(info, i);
        EmitUnsigned(out, kUsage, 0x30u + static_cast<std::uint32_t>(i));  // X, Y, Z
        EmitSigned(out, kLogicalMinimum, field.minimum);
        if (info.logicalMaxBytes != 0) {
            // As written by a descriptor that means 0..0xFFFF with 2 bytes.
            Emit(out, kLogicalMaximum, static_cast<std::uint32_t>(maximum), info.logicalMaxBytes);
        } else {
            EmitSigned(out, kLogicalMaximum, maximum);
        }
        EmitUnsigned(out, kReportSize, static_cast<std::uint32_t>(field.bits));
        EmitUnsigned(out, kReportCount, 1);
        EmitUnsigned(out, kInput, kVariable);
    }
}

// Vendor-defined byte fields for the feature reports that follow.
void EmitFeatureGlobals(std::vector<std::uint8_t>* out) {
    Emit(out, kUsagePage, 0xFF00, 2);  // vendor defined
    EmitSigned(out, kLogicalMinimum, 0);
    EmitSigned(out, kLogicalMaximum, 255);
    EmitUnsigned(out, kReportSize, 8);
}

// One feature report's data items (after its Report ID, if any).
void EmitFeatureBytes(std::vector<std::uint8_t>* out, std::uint16_t featureReportLength) {
    std::int32_t remaining = featureReportLength - 1;
    do {
        const std::int32_t chunk = std::min(remaining, kFeatureChunk);
        EmitUnsigned(out, kUsage, 0x01);
        EmitUnsigned(out, kReportCount, static_cast<std::uint32_t>(chunk));
        EmitUnsigned(out, kFeature, kVariable);
        remaining -= chunk;
    } while (remaining > 0);
}

// The feature reports of one collection: without report IDs its one report
// 0 (none when it has none); with them each under its ID.
void EmitFeatureReports(std::vector<std::uint8_t>* out, const VcCollection& collection) {
    if (collection.reportCount == 0) return;
    EmitFeatureGlobals(out);
    for (int i = 0; i < collection.reportCount; ++i) {
        if (collection.reportIds) EmitUnsigned(out, kReportId, collection.reports[i].id);
        EmitFeatureBytes(out, collection.reports[i].length);
    }
}

// The input report: the tip switch in bit 0 of the first byte and seven
// constant pad bits after it (a button, never a value), then the values;
// under the first declared report ID when the descriptor declares IDs.
void EmitInputReport(std::vector<std::uint8_t>* out, const VcDeviceInfo& info) {
    if (info.declaredCount > 0) EmitUnsigned(out, kReportId, info.declared[0].id);
    EmitUnsigned(out, kUsage, 0x42);  // tip switch
    EmitSigned(out, kLogicalMinimum, 0);
    EmitSigned(out, kLogicalMaximum, 1);
    EmitUnsigned(out, kReportSize, 1);
    EmitUnsigned(out, kReportCount, 1);
    EmitUnsigned(out, kInput, kVariable);
    EmitUnsigned(out, kReportSize, 7);
    EmitUnsigned(out, kInput, kConstant | kVariable);
    EmitValues(out, info);
}

// Global Usage Page items up to `size` bytes: no bearing on any report.
void Pad(std::vector<std::uint8_t>* out, std::size_t size) {
    while (out->size() + 2 <= size) {
        out->push_back(kUsagePage | 1);
        out->push_back(0x0D);
    }
    if (out->size() < size) out->push_back(kUsagePage);  // no data: usage page 0
}

std::vector<std::uint8_t> ControllerDescriptor(const VcDeviceInfo& info) {
    std::vector<std::uint8_t> out;
    VcCollection collections[kVcMaxCollections];
    const int count = VcDeviceCollections(info, collections);
    for (int i = 0; i < count; ++i) {
        const VcCollection& collection = collections[i];
        Emit(&out, kUsagePage, collection.usagePage, collection.usagePage > 0xFF ? 2 : 1);
        EmitUnsigned(&out, kUsage, collection.usage);
        EmitUnsigned(&out, kCollection, 0x01);  // application
        if (collection.input) EmitInputReport(&out, info);
        EmitFeatureReports(&out, collection);
        out.push_back(kEndCollection);
    }
    Pad(&out, info.descriptorSize);
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
    if (!info.isController || count < 2 || FieldOf(info, 0).maximum <= 0 || FieldOf(info, 1).maximum <= 0) {
        return false;
    }
    report->clear();
    if (info.declaredCount > 0) report->push_back(info.declared[0].id);
    report->push_back(tip ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        const ValueField field = FieldOf(info, i);
        const std::int64_t wanted = i == 0 ? x : i == 1 ? y : 0;
        const std::int64_t value = std::clamp<std::int64_t>(wanted, field.minimum, field.maximum);
        for (int b = 0; b < field.bits / 8; ++b) {
            report->push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * b)));
        }
    }
    return true;
}
