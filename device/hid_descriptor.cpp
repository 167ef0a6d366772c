// HID report descriptor parser (see hid_descriptor.h for what it counts and
// what it refuses).
#include "device/hid_descriptor.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kStackDepth = 4;
constexpr std::uint32_t kMaxReportSize = 256;
constexpr std::uint32_t kMaxReportCount = 65535;
constexpr std::uint64_t kMaxReportBytes = 65535;  // report-ID byte included
constexpr std::size_t kMaxDescriptorBytes = 65535;
constexpr std::uint8_t kLongItemPrefix = 0xFE;

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

// Main item tags.
constexpr std::uint8_t kInput = 0x8;
constexpr std::uint8_t kOutput = 0x9;
constexpr std::uint8_t kFeature = 0xB;
constexpr std::uint8_t kCollection = 0xA;
constexpr std::uint8_t kEndCollection = 0xC;
// Global item tags.
constexpr std::uint8_t kLogicalMinimum = 0x1;
constexpr std::uint8_t kLogicalMaximum = 0x2;
constexpr std::uint8_t kReportSize = 0x7;
constexpr std::uint8_t kReportId = 0x8;
constexpr std::uint8_t kReportCount = 0x9;
constexpr std::uint8_t kPush = 0xA;
constexpr std::uint8_t kPop = 0xB;
// Local item tags.
constexpr std::uint8_t kUsage = 0x0;
constexpr std::uint8_t kUsageMinimum = 0x1;

struct GlobalState {
    std::int32_t logicalMinimum;
    std::uint32_t logicalMaximumData;  // as written; its sign is settled at the main item
    std::uint8_t logicalMaximumBytes;
    std::uint32_t reportSize;
    std::uint32_t reportId;
    std::uint32_t reportCount;
};

enum ReportType { kInputReport = 0, kOutputReport = 1, kFeatureReport = 2 };

// The top-level collection being read.
struct Group {
    bool active;
    std::uint32_t featureBits[kHidReportIdCount];  // at most 65535 * 8
    bool featureDeclared[kHidReportIdCount];
    std::uint64_t values;
    std::int32_t logicalMax[2];
};

// What the summary keeps of one collection.
struct Facts {
    bool set;
    std::int32_t index;
    std::uint16_t featureReportLength;
    std::uint16_t featureLength[kHidReportIdCount];
    std::uint64_t values;
    std::int32_t logicalMax[2];
};

// The first collection of each kind, in the order the protocol's
// collection is chosen from them.
enum Candidate { kWith0x55 = 0, kWith0x01 = 1, kWithFeature = 2, kFirst = 3, kCandidates = 4 };

struct Parser {
    GlobalState global;
    GlobalState stack[kStackDepth];
    int depth;
    std::uint32_t usages;  // local: Usages and Usage Minimums since the last main item
    std::uint32_t openCollections;
    std::uint64_t bits[3][256];  // whole reports, for the length limit
    Group group;
    std::int32_t collections;    // top-level collections closed so far
    bool reportIds;
    Facts candidate[kCandidates];
    HidDescriptorSummary* summary;
};

// MinGW's vsnprintf (with __USE_MINGW_ANSI_STDIO, as in C++) is C99's and
// knows %zu; its `printf` format check means the system's, which does not.
#ifdef __MINGW32__
__attribute__((format(gnu_printf, 2, 3)))
#else
__attribute__((format(printf, 2, 3)))
#endif
bool Refuse(HidDescriptorSummary* summary, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(summary->problem, sizeof summary->problem, format, arguments);
    va_end(arguments);
    return false;
}

std::int32_t SignExtended(std::uint32_t data, std::uint8_t bytes) {
    if (bytes == 1) return static_cast<std::int8_t>(data);
    if (bytes == 2) return static_cast<std::int16_t>(data);
    return static_cast<std::int32_t>(data);
}

std::int32_t LogicalMaximum(const GlobalState& global) {
    return SignExtended(global.logicalMaximumData, global.logicalMaximumBytes);
}

void StartGroup(Parser* p) {
    std::memset(&p->group, 0, sizeof p->group);
    p->group.active = true;
}

// Ends the collection being read and keeps its facts where it is the first
// of a kind.
void EndGroup(Parser* p) {
    Group& g = p->group;
    if (!g.active) return;
    g.active = false;
    Facts facts;
    std::memset(&facts, 0, sizeof facts);
    facts.set = true;
    facts.index = p->collections++;
    bool anyFeature = false;
    for (int id = 0; id < kHidReportIdCount; ++id) {
        if (!g.featureDeclared[id]) continue;
        anyFeature = true;
        // At most 65535 with the ID byte: longer reports are refused first.
        facts.featureLength[id] = static_cast<std::uint16_t>((g.featureBits[id] + 7) / 8 + 1);
        if (facts.featureLength[id] > facts.featureReportLength) {
            facts.featureReportLength = facts.featureLength[id];
        }
    }
    facts.values = g.values;
    facts.logicalMax[0] = g.logicalMax[0];
    facts.logicalMax[1] = g.logicalMax[1];
    const bool kinds[kCandidates] = {g.featureDeclared[0x55], g.featureDeclared[0x01], anyFeature,
                                     true};
    for (int kind = 0; kind < kCandidates; ++kind) {
        if (kinds[kind] && !p->candidate[kind].set) p->candidate[kind] = facts;
    }
}

const char* const kReportNames[3] = {"input", "output", "feature"};

bool MainItem(Parser* p, std::uint8_t tag, std::uint32_t data, std::size_t offset) {
    if (tag == kCollection) {
        if (p->openCollections == 0) {
            EndGroup(p);  // items outside every collection before it
            StartGroup(p);
        }
        ++p->openCollections;
    } else if (tag == kEndCollection) {
        if (p->openCollections == 0) {
            return Refuse(p->summary, "End Collection without a Collection at byte %u",
                          static_cast<unsigned>(offset));
        }
        if (--p->openCollections == 0) EndGroup(p);
    } else if (tag == kInput || tag == kOutput || tag == kFeature) {
        if (!p->group.active) StartGroup(p);
        const int type = tag == kInput ? kInputReport : tag == kOutput ? kOutputReport : kFeatureReport;
        const std::uint32_t id = p->global.reportId;
        const std::uint64_t added = static_cast<std::uint64_t>(p->global.reportSize) * p->global.reportCount;
        std::uint64_t& bits = p->bits[type][id];
        bits += added;
        if ((bits + 7) / 8 + 1 > kMaxReportBytes) {
            return Refuse(p->summary, "%s report %u longer than %u bytes at byte %u",
                          kReportNames[type], id, static_cast<unsigned>(kMaxReportBytes),
                          static_cast<unsigned>(offset));
        }
        if (type == kFeatureReport) {
            // Within the whole report's limit, so within 32 bits.
            p->group.featureBits[id] += static_cast<std::uint32_t>(added);
            p->group.featureDeclared[id] = true;
        }
        const bool constant = (data & 0x01) != 0;
        const bool variable = (data & 0x02) != 0;
        if (type == kInputReport && variable && !constant && p->global.reportSize > 1 &&
            p->global.reportCount > 0) {
            std::uint32_t values = p->usages == 0 ? 1 : p->usages;
            if (values > p->global.reportCount) values = p->global.reportCount;
            const std::int32_t maximum = LogicalMaximum(p->global);
            Group& g = p->group;
            for (std::uint64_t i = g.values; i < 2 && i < g.values + values; ++i) {
                g.logicalMax[i] = maximum;
            }
            g.values += values;
        }
    }
    // Every main item ends the local state.
    p->usages = 0;
    return true;
}

bool GlobalItem(Parser* p, std::uint8_t tag, std::uint32_t data, std::uint8_t bytes,
                std::size_t offset) {
    GlobalState& g = p->global;
    switch (tag) {
        case kLogicalMinimum:
            g.logicalMinimum = SignExtended(data, bytes);
            break;
        case kLogicalMaximum:
            g.logicalMaximumData = data;
            g.logicalMaximumBytes = bytes;
            break;
        case kReportSize:
            if (data > kMaxReportSize) {
                return Refuse(p->summary, "Report Size %u above %u bits at byte %u", data,
                              kMaxReportSize, static_cast<unsigned>(offset));
            }
            g.reportSize = data;
            break;
        case kReportCount:
            if (data > kMaxReportCount) {
                return Refuse(p->summary, "Report Count %u above %u at byte %u", data,
                              kMaxReportCount, static_cast<unsigned>(offset));
            }
            g.reportCount = data;
            break;
        case kReportId:
            if (data == 0 || data > 255) {
                return Refuse(p->summary, "Report ID %u outside 1..255 at byte %u", data,
                              static_cast<unsigned>(offset));
            }
            g.reportId = data;
            p->reportIds = true;
            break;
        case kPush:
            if (p->depth == kStackDepth) {
                return Refuse(p->summary, "Push beyond %d levels at byte %u", kStackDepth,
                              static_cast<unsigned>(offset));
            }
            p->stack[p->depth++] = g;
            break;
        case kPop:
            if (p->depth == 0) {
                return Refuse(p->summary, "Pop without Push at byte %u", static_cast<unsigned>(offset));
            }
            g = p->stack[--p->depth];
            break;
        default:
            break;  // usage page, physical extent, unit: no bearing on what is counted
    }
    return true;
}

void LocalItem(Parser* p, std::uint8_t tag) {
    if ((tag == kUsage || tag == kUsageMinimum) && p->usages < 0xFFFFFFFFu) ++p->usages;
}

}  // namespace

bool ParseHidDescriptor(const std::uint8_t* bytes, std::size_t size, HidDescriptorSummary* summary) {
    if (summary == nullptr) return false;
    std::memset(summary, 0, sizeof *summary);
    if (size > kMaxDescriptorBytes) {
        return Refuse(summary, "descriptor longer than %u bytes",
                      static_cast<unsigned>(kMaxDescriptorBytes));
    }
    if (bytes == nullptr && size > 0) return Refuse(summary, "no descriptor bytes");

    static_assert(sizeof(Parser) < 16384, "the parser state stays small");
    static_assert(kMaxReportBytes * 8 <= 0xFFFFFFFFu, "a collection's feature bits fit 32 bits");
    Parser parser;
    std::memset(&parser, 0, sizeof parser);
    parser.summary = summary;

    bool ok = true;
    std::size_t pos = 0;
    while (ok && pos < size) {
        const std::size_t offset = pos;
        const std::uint8_t prefix = bytes[pos];
        if (prefix == kLongItemPrefix) {
            // Long item: prefix, data size, tag, data. No long item tags are
            // defined, so the item is skipped whole.
            if (size - pos < 3 || size - pos - 3 < bytes[pos + 1]) {
                ok = Refuse(summary, "long item at byte %u runs past the end",
                        static_cast<unsigned>(offset));
                break;
            }
            pos += 3 + static_cast<std::size_t>(bytes[pos + 1]);
            continue;
        }
        const std::uint8_t sizeCode = prefix & 0x03;
        const std::uint8_t dataBytes = sizeCode == 3 ? 4 : sizeCode;
        if (size - pos - 1 < dataBytes) {
            ok = Refuse(summary, "item at byte %u runs past the end", static_cast<unsigned>(offset));
            break;
        }
        std::uint32_t data = 0;
        for (std::uint8_t i = 0; i < dataBytes; ++i) {
            data |= static_cast<std::uint32_t>(bytes[pos + 1 + i]) << (8 * i);
        }
        pos += 1 + static_cast<std::size_t>(dataBytes);
        const std::uint8_t type = (prefix >> 2) & 0x03;
        const std::uint8_t tag = prefix >> 4;
        if (type == kMain) {
            ok = MainItem(&parser, tag, data, offset);
        } else if (type == kGlobal) {
            ok = GlobalItem(&parser, tag, data, dataBytes, offset);
        } else if (type == kLocal) {
            LocalItem(&parser, tag);
        }  // type 3 is reserved: skipped
    }
    if (ok && parser.openCollections > 0) {
        ok = Refuse(summary, "%u Collection(s) not closed at the end", parser.openCollections);
    }
    if (!ok) {
        char problem[sizeof summary->problem];
        std::memcpy(problem, summary->problem, sizeof problem);
        std::memset(summary, 0, sizeof *summary);
        std::memcpy(summary->problem, problem, sizeof problem);
        summary->collection = -1;
        return false;
    }
    EndGroup(&parser);
    summary->reportIds = parser.reportIds;
    summary->collectionCount = parser.collections;
    summary->collection = -1;
    const Candidate order[] = {kWith0x55, kWith0x01, kWithFeature, kFirst};
    for (const Candidate kind : order) {
        const Facts& facts = parser.candidate[kind];
        if (!facts.set) continue;
        summary->collection = facts.index;
        summary->featureReportLength = facts.featureReportLength;
        std::memcpy(summary->featureLength, facts.featureLength, sizeof summary->featureLength);
        summary->inputValueCount =
            facts.values > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(facts.values);
        summary->logicalMax[0] = facts.logicalMax[0];
        summary->logicalMax[1] = facts.logicalMax[1];
        break;
    }
    return true;
}
