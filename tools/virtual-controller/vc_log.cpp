// The virtual controller's transfer log: entries in memory, lines in the
// config's log file.
#include <cstdio>
#include <sstream>

#include "tools/virtual-controller/vc_internal.h"

namespace vc_internal {

namespace {

void AppendToLogFile(const VcSystem& system, const VcLogEntry& entry) {
    if (system.config.logPath.empty()) return;
    std::FILE* file = std::fopen(system.config.logPath.c_str(), "a");
    if (file == nullptr) return;
    const std::string line = VcFormatLogEntry(entry) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

}  // namespace

void LogTransfer(VcSystem* system, int controller, VcLogKind kind, const std::uint8_t* report,
                 std::uint32_t length, VcResult result) {
    VcLogEntry entry;
    entry.sequence = system->nextSequence++;
    entry.controller = controller;
    entry.kind = kind;
    entry.reportId = (report != nullptr && length > 0) ? report[0] : 0;
    entry.result = result;
    entry.length = length;
    if (report != nullptr && length > 0) {
        // A refused or failed GetFeature returned nothing: only the ID asked for.
        const std::uint32_t kept = (kind == VcLogKind::kGet && result != VcResult::kOk) ? 1 : length;
        entry.bytes.assign(report, report + kept);
    }
    AppendToLogFile(*system, entry);
    system->log.push_back(std::move(entry));
}

void LogEvent(VcSystem* system, int controller, const std::string& text) {
    VcLogEntry entry;
    entry.sequence = system->nextSequence++;
    entry.controller = controller;
    entry.kind = VcLogKind::kEvent;
    entry.reportId = 0;
    entry.result = VcResult::kOk;
    entry.length = 0;
    entry.text = text;
    AppendToLogFile(*system, entry);
    system->log.push_back(std::move(entry));
}

}  // namespace vc_internal

using vc_internal::Hex2;

const char* VcResultName(VcResult result) {
    switch (result) {
        case VcResult::kOk: return "ok";
        case VcResult::kRefused: return "refused";
        case VcResult::kBadLength: return "bad-length";
        case VcResult::kGone: return "gone";
    }
    return "?";
}

std::string VcFormatLogEntry(const VcLogEntry& entry) {
    std::ostringstream line;
    line << entry.sequence << ' ' << entry.controller << ' ';
    if (entry.kind == VcLogKind::kEvent) {
        line << "EVENT " << entry.text;
        return line.str();
    }
    line << (entry.kind == VcLogKind::kSet ? "SET " : "GET ") << Hex2(entry.reportId) << ' '
         << VcResultName(entry.result) << ' ' << entry.length << " :";
    std::size_t shown = entry.bytes.size();
    while (shown > 1 && entry.bytes[shown - 1] == 0) --shown;
    for (std::size_t i = 0; i < shown; ++i) line << ' ' << Hex2(entry.bytes[i]);
    return line.str();
}
