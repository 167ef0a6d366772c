// The HID report descriptor parser, three ways over one input:
//   1. the input itself as a descriptor: the parser reads nothing past its
//      end (AddressSanitizer) and either counts or refuses with a reason;
//   2. a well-formed descriptor generated from the input (items in varied
//      encodings, Push and Pop, collections nested in one top-level
//      collection, long and reserved items, usages, report IDs), whose
//      feature report lengths per report ID, input value count and first
//      two maxima the generator counts itself as it writes the items: the
//      parser must agree;
//   3. a virtual controller's descriptor (vc_descriptor) for facts taken
//      from the input, in either collection layout: the parser must read
//      those facts back from the protocol's collection.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/hid_descriptor.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/virtual-controller/vc_descriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "hid_descriptor_fuzz: %s\n", what);
    std::abort();
}

void CheckRaw(const std::uint8_t* data, std::size_t size) {
    // An exactly sized copy: libFuzzer's buffer may sit inside a larger one.
    const Bytes exact(data, data + size);
    HidDescriptorSummary summary;
    if (ParseHidDescriptor(exact.empty() ? nullptr : exact.data(), exact.size(), &summary)) {
        Check(summary.problem[0] == '\0', "a counted descriptor carries a problem");
        Check(summary.inputValueCount >= 0, "negative value count");
        Check(summary.collection < summary.collectionCount, "a collection beyond the count");
        std::uint16_t longest = 0;
        for (const std::uint16_t length : summary.featureLength) longest = length > longest ? length : longest;
        Check(summary.featureReportLength == longest, "the longest feature report is not the length");
    } else {
        Check(summary.problem[0] != '\0', "a refusal without a reason");
        Check(std::memchr(summary.problem, '\0', sizeof summary.problem) != nullptr,
              "an unterminated reason");
        Check(summary.featureReportLength == 0 && summary.inputValueCount == 0,
              "a refusal with counts");
    }
}

// The generator's own view of the global state it has written.
struct Globals {
    std::uint32_t reportId;
    std::uint32_t reportSize;
    std::uint32_t reportCount;
    std::int32_t logicalMinimum;
    std::uint32_t maximumData;  // as written
    int maximumBytes;
};

struct Generator {
    FuzzInput* in;
    Bytes out;
    Globals current;
    std::vector<Globals> stack;
    int openCollections;
    std::uint64_t featureBits[256];
    bool featureDeclared[256];
    std::uint64_t inputBits[256];
    std::uint64_t outputBits[256];
    std::int64_t values;
    std::int32_t maxima[2];
    bool reportIds;
};

void Item(Generator* g, std::uint8_t typeAndTag, std::uint32_t data, int bytes) {
    const std::uint8_t code = bytes == 4 ? 3 : static_cast<std::uint8_t>(bytes);
    g->out.push_back(static_cast<std::uint8_t>(typeAndTag | code));
    for (int i = 0; i < bytes; ++i) g->out.push_back(static_cast<std::uint8_t>(data >> (8 * i)));
}

// An unsigned value in its shortest form, or wider at the input's choice.
void UnsignedItem(Generator* g, std::uint8_t typeAndTag, std::uint32_t value) {
    int bytes = value == 0 ? 0 : value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
    const int widen = TakeByte(g->in) % 4;
    if (widen == 1 && bytes < 2) bytes = 2;
    if (widen == 2) bytes = 4;
    Item(g, typeAndTag, value, bytes);
}

// What a Logical Maximum written as `data` in `bytes` means: signed by its
// size, whatever the minimum.
std::int32_t MaximumMeaning(std::uint32_t data, int bytes) {
    if (bytes == 0) return 0;
    if (bytes == 4) return static_cast<std::int32_t>(data);
    const std::uint32_t mask = bytes == 1 ? 0xFFu : 0xFFFFu;
    const std::uint32_t value = data & mask;
    const std::uint32_t sign = bytes == 1 ? 0x80u : 0x8000u;
    return (value & sign) != 0 ? static_cast<std::int32_t>(value) - static_cast<std::int32_t>(mask) - 1
                               : static_cast<std::int32_t>(value);
}

// Writes the globals an item wants, each only when the input says so or it
// differs from what is in force.
void SetGlobals(Generator* g, const Globals& want) {
    Globals& c = g->current;
    const std::uint8_t rewrite = TakeByte(g->in);
    if (want.reportId != c.reportId || (rewrite & 1)) {
        if (want.reportId != 0) UnsignedItem(g, 0x84, want.reportId);
        if (want.reportId != 0) g->reportIds = true;
        c.reportId = want.reportId == 0 ? c.reportId : want.reportId;
    }
    if (want.reportSize != c.reportSize || (rewrite & 2)) {
        UnsignedItem(g, 0x74, want.reportSize);
        c.reportSize = want.reportSize;
    }
    if (want.reportCount != c.reportCount || (rewrite & 4)) {
        UnsignedItem(g, 0x94, want.reportCount);
        c.reportCount = want.reportCount;
    }
    const bool maximumFirst = (rewrite & 8) != 0;
    const bool newMaximum = want.maximumData != c.maximumData || want.maximumBytes != c.maximumBytes ||
                            (rewrite & 16);
    if (maximumFirst && newMaximum) Item(g, 0x24, want.maximumData, want.maximumBytes);
    if (want.logicalMinimum != c.logicalMinimum || (rewrite & 32)) {
        const std::int32_t m = want.logicalMinimum;
        const int bytes = (m >= -128 && m <= 127) ? 1 : (m >= -32768 && m <= 32767) ? 2 : 4;
        Item(g, 0x14, static_cast<std::uint32_t>(m), bytes);
        c.logicalMinimum = m;
    }
    if (!maximumFirst && newMaximum) Item(g, 0x24, want.maximumData, want.maximumBytes);
    c.maximumData = want.maximumData;
    c.maximumBytes = want.maximumBytes;
}

// Globals for the next main item: each field kept or new, as the input says.
Globals WantedGlobals(Generator* g, std::uint32_t maxSize, std::uint32_t maxCount) {
    Globals want = g->current;
    const std::uint8_t change = TakeByte(g->in);
    if (change & 1) want.reportId = TakeByte(g->in) % 4;  // 0: keep the one in force
    if ((change & 2) || want.reportSize > maxSize) want.reportSize = TakeByte(g->in) % (maxSize + 1);
    if ((change & 4) || want.reportCount > maxCount) want.reportCount = TakeU16(g->in) % (maxCount + 1);
    if (change & 8) want.logicalMinimum = (change & 16) ? -static_cast<std::int32_t>(TakeByte(g->in)) - 1 : 0;
    if (change & 32) {
        // A maximum in 1, 2 or 4 bytes, as it comes: the parser reads it by its rule.
        const int bytes = 1 << (TakeByte(g->in) % 3);
        want.maximumData = static_cast<std::uint32_t>(TakeI32(g->in));
        if (bytes < 4) want.maximumData &= bytes == 1 ? 0xFFu : 0xFFFFu;
        want.maximumBytes = bytes;
    }
    return want;
}

// Usages before an input item: how many count (Usage, Usage Minimum).
std::uint32_t Usages(Generator* g) {
    const std::uint8_t shape = TakeByte(g->in);
    std::uint32_t counted = 0;
    for (int i = 0; i < (shape & 3); ++i) {
        if (shape & (4 << i)) {
            Item(g, 0x18, 1, 1);  // Usage Minimum, Usage Maximum
            Item(g, 0x28, 4, 1);
        } else {
            UnsignedItem(g, 0x08, 0x30u + static_cast<std::uint32_t>(i));
        }
        ++counted;
    }
    if (shape & 0x40) Item(g, 0x28, 9, 1);  // a Usage Maximum alone counts nothing
    return counted;
}

bool Fits(std::uint64_t bits, const Globals& want) {
    return (bits + static_cast<std::uint64_t>(want.reportSize) * want.reportCount + 7) / 8 + 1 <= 65535;
}

void MainItem(Generator* g, std::uint8_t kind) {
    switch (kind) {
        case 0: {  // feature bytes
            const Globals want = WantedGlobals(g, 64, 2000);
            const std::uint32_t id = want.reportId == 0 ? g->current.reportId : want.reportId;
            if (!Fits(g->featureBits[id], want)) return;
            SetGlobals(g, want);
            UnsignedItem(g, 0xB0, TakeByte(g->in) & 0x03);
            g->featureBits[id] += static_cast<std::uint64_t>(want.reportSize) * want.reportCount;
            g->featureDeclared[id] = true;
            return;
        }
        case 1:    // an input item, a value or not
        case 2: {
            const Globals want = WantedGlobals(g, 32, 6);
            const std::uint32_t id = want.reportId == 0 ? g->current.reportId : want.reportId;
            if (!Fits(g->inputBits[id], want)) return;
            const std::uint32_t usages = Usages(g);
            SetGlobals(g, want);
            const std::uint32_t flags = kind == 1 ? 0x02 : (TakeByte(g->in) & 0x03);
            UnsignedItem(g, 0x80, flags | (TakeByte(g->in) & 0x04));
            g->inputBits[id] += static_cast<std::uint64_t>(want.reportSize) * want.reportCount;
            const bool value = (flags & 0x02) != 0 && (flags & 0x01) == 0 && want.reportSize > 1 &&
                               want.reportCount > 0;
            if (!value) return;
            std::uint32_t count = usages == 0 ? 1 : usages;
            if (count > want.reportCount) count = want.reportCount;
            const std::int32_t maximum = MaximumMeaning(g->current.maximumData, g->current.maximumBytes);
            for (std::uint32_t i = 0; i < count; ++i) {
                if (g->values < 2) g->maxima[g->values] = maximum;
                ++g->values;
            }
            return;
        }
        default: {  // output bytes
            const Globals want = WantedGlobals(g, 16, 100);
            const std::uint32_t id = want.reportId == 0 ? g->current.reportId : want.reportId;
            if (!Fits(g->outputBits[id], want)) return;
            SetGlobals(g, want);
            UnsignedItem(g, 0x90, 0x02);
            g->outputBits[id] += static_cast<std::uint64_t>(want.reportSize) * want.reportCount;
            return;
        }
    }
}

void CheckGenerated(FuzzInput* in) {
    auto* g = new Generator();
    g->in = in;
    // One top-level collection holds everything: the summary is its own.
    Item(g, 0xA1, 0x01, 1);
    g->openCollections = 1;
    for (int steps = 0; steps < 64 && in->pos < in->size; ++steps) {
        const std::uint8_t step = TakeByte(in);
        switch (step % 9) {
            case 0: case 1: case 2: case 3:
                MainItem(g, static_cast<std::uint8_t>(step / 9 % 4));
                break;
            case 4:
                if (g->stack.size() < 4) {
                    Item(g, 0xA4, 0, 0);
                    g->stack.push_back(g->current);
                }
                break;
            case 5:
                if (!g->stack.empty()) {
                    Item(g, 0xB4, 0, 0);
                    g->current = g->stack.back();
                    g->stack.pop_back();
                }
                break;
            case 6:
                if (g->openCollections > 1 && (step & 0x80)) {
                    Item(g, 0xC0, 0, 0);
                    --g->openCollections;
                } else {
                    UnsignedItem(g, 0xA0, step >> 5);
                    ++g->openCollections;
                }
                break;
            case 7: {  // a long item with its data
                const std::uint8_t length = TakeByte(in) % 8;
                g->out.insert(g->out.end(), {0xFE, length, TakeByte(in)});
                for (int i = 0; i < length; ++i) g->out.push_back(TakeByte(in));
                break;
            }
            default: {  // usage page, unit, a reserved item
                const std::uint8_t which = TakeByte(in) % 3;
                if (which == 0) Item(g, 0x04, TakeByte(in), 1);
                if (which == 1) Item(g, 0x64, TakeByte(in), 1);
                if (which == 2) Item(g, 0x3C, TakeByte(in), 1);  // type 3: reserved
                break;
            }
        }
    }
    while (g->openCollections-- > 0) Item(g, 0xC0, 0, 0);

    std::uint64_t longest = 0;
    bool anyFeature = false;
    for (int id = 0; id < 256; ++id) {
        if (!g->featureDeclared[id]) continue;
        anyFeature = true;
        const std::uint64_t length = (g->featureBits[id] + 7) / 8;
        if (length > longest) longest = length;
    }
    const Bytes exact(g->out);
    HidDescriptorSummary summary;
    Check(ParseHidDescriptor(exact.empty() ? nullptr : exact.data(), exact.size(), &summary),
          "a well-formed descriptor refused");
    Check(summary.featureReportLength == (anyFeature ? longest + 1 : 0), "feature report length differs");
    for (int id = 0; id < 256; ++id) {
        Check(summary.featureLength[id] == (g->featureDeclared[id] ? (g->featureBits[id] + 7) / 8 + 1 : 0),
              "a report ID's feature length differs");
    }
    Check(summary.reportIds == g->reportIds, "report IDs declared or not differs");
    Check(summary.collectionCount == 1 && summary.collection == 0, "not the one collection");
    Check(summary.inputValueCount == g->values, "input value count differs");
    Check(summary.logicalMax[0] == (g->values > 0 ? g->maxima[0] : 0), "first maximum differs");
    Check(summary.logicalMax[1] == (g->values > 1 ? g->maxima[1] : 0), "second maximum differs");
    delete g;
}

void CheckVirtualDevice(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    VcDeviceInfo info{};
    const std::uint8_t kind = TakeByte(&in);
    info.isController = (kind & 1) == 0;
    info.layout = (kind & 2) == 0 ? VcLayout::kVendor : VcLayout::kTouchAndVendor;
    info.featureReportLength = TakeU16(&in);
    info.valueCapCount = TakeByte(&in) % 4;
    for (std::int32_t& maximum : info.logicalMax) maximum = TakeI32(&in);
    HidDescriptorSummary summary;
    const Bytes descriptor = VcReportDescriptor(info);
    Check(ParseHidDescriptor(descriptor.data(), descriptor.size(), &summary), "a virtual descriptor refused");
    if (!info.isController) return;
    Check(summary.featureReportLength == info.featureReportLength, "virtual feature length differs");
    // Beside the touch screen collection the protocol's vendor collection
    // holds no values (without a feature report the first collection is
    // the protocol's).
    const std::int32_t values =
        info.layout == VcLayout::kTouchAndVendor && info.featureReportLength > 0 ? 0 : info.valueCapCount;
    Check(summary.inputValueCount == values, "virtual value count differs");
    Check(summary.logicalMax[0] == (values > 0 ? info.logicalMax[0] : 0), "virtual maximum X");
    Check(summary.logicalMax[1] == (values > 1 ? info.logicalMax[1] : 0), "virtual maximum Y");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckRaw(data, size);
    FuzzInput in{data, size, 0};
    CheckGenerated(&in);
    CheckVirtualDevice(data, size);
    return 0;
}
