// The virtual touch controller's model: config parser, firmware side of the
// command protocol, panel model, coefficient store and transfer log.
#include "tools/virtual-controller/virtual_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <sstream>

namespace {

constexpr std::uint8_t kReportIds[3] = {0x55, 0x01, 0x00};
constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kCr = 0x0D;

// ---- small helpers ---------------------------------------------------------

std::uint64_t NextRandom(std::uint64_t* state) {
    // splitmix64: deterministic for a given seed on every platform.
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

// Decimal or 0x-hexadecimal integer, optional leading '-'.
bool ParseInteger(const std::string& token, long long* value) {
    if (token.empty()) return false;
    std::size_t i = 0;
    bool negative = false;
    if (token[0] == '-' || token[0] == '+') {
        negative = token[0] == '-';
        i = 1;
    }
    int base = 10;
    if (token.size() > i + 1 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= token.size()) return false;
    long long result = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        if (result > (static_cast<long long>(1) << 40)) return false;  // far beyond any use
        result = result * base + digit;
    }
    *value = negative ? -result : result;
    return true;
}

bool ParseRanged(const std::string& token, long long low, long long high, long long* value) {
    long long parsed = 0;
    if (!ParseInteger(token, &parsed) || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool ParseDouble(const std::string& token, double* value) {
    if (token.empty()) return false;
    char* end = nullptr;
    const double parsed = std::strtod(token.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word) words.push_back(word);
    return words;
}

std::int32_t ReadLe32(const std::uint8_t* bytes) {
    const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) |
                                (static_cast<std::uint32_t>(bytes[1]) << 8) |
                                (static_cast<std::uint32_t>(bytes[2]) << 16) |
                                (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

// ---- log ------------------------------------------------------------------

void AppendToLogFile(const VcSystem& system, const VcLogEntry& entry) {
    if (system.config.logPath.empty()) return;
    std::FILE* file = std::fopen(system.config.logPath.c_str(), "a");
    if (file == nullptr) return;
    const std::string line = VcFormatLogEntry(entry) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

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

// ---- store ----------------------------------------------------------------

bool WriteStore(const std::string& path, const VcCoefficients& coefficients) {
    if (path.empty()) return true;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const std::string text = VcFormatStore(coefficients);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool ReadStore(const std::string& path, VcCoefficients* coefficients) {
    if (path.empty()) return false;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    std::string text;
    char chunk[256];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return VcParseStore(text, coefficients);
}

// ---- firmware -------------------------------------------------------------

bool ValidController(const VcSystem& system, int controller) {
    return controller >= 0 && controller < static_cast<int>(system.controllers.size());
}

int ReportIdSlot(std::uint8_t reportId) {
    for (int i = 0; i < 3; ++i) {
        if (kReportIds[i] == reportId) return i;
    }
    return -1;
}

// Common checks of both transfer directions, counting the transfer.
VcResult CheckTransfer(VcControllerState* state, const std::uint8_t* report, std::uint32_t length) {
    ++state->transfers;
    if (state->config.faults.goneAfter >= 0 && state->transfers > state->config.faults.goneAfter) {
        state->gone = true;
    }
    if (state->gone) return VcResult::kGone;
    if (report == nullptr || length == 0 || length != state->config.featureReportLength) {
        return VcResult::kBadLength;
    }
    const int slot = ReportIdSlot(report[0]);
    if (slot < 0 || !state->config.acceptsReportId[slot]) return VcResult::kRefused;
    return VcResult::kOk;
}

void SetReply(VcControllerState* state, char first, char second, bool accept) {
    const VcFaults& faults = state->config.faults;
    if (faults.otherReply) {
        if (first == 'C' && second == 'x') {
            second = 'y';
        } else if (first == 'C' && second == 'y') {
            second = 'x';
        } else if (first == 'C' && second == 'S') {
            first = 'W';
            second = 'C';
        } else {
            first = 'C';
            second = 'S';
        }
    }
    std::uint8_t* r = state->reply;
    int n = 0;
    if (faults.garbage) {
        // Starts with STX instead of SOH, so it can never be taken for a reply.
        r[n++] = 0x02;
        for (int i = 0; i < 3; ++i) r[n++] = static_cast<std::uint8_t>(0x21 + NextRandom(&state->random) % 0x5E);
        r[n++] = 0x0A;
    } else {
        r[n++] = kSoh;
        r[n++] = static_cast<std::uint8_t>(first);
        r[n++] = static_cast<std::uint8_t>(second);
        if (!faults.halfReply) {
            r[n++] = accept ? '0' : '1';
            if (!faults.noCr) r[n++] = kCr;
        }
    }
    if (faults.trailingBytes) {
        r[n++] = 'E';
        r[n++] = 'N';
        r[n++] = 'D';
    }
    state->replyLength = n;
    state->mode = VcReportMode::kReply;
}

// Adds the held-back faults whose point of the session has come.
void ActivateLateFaults(VcControllerState* state) {
    std::vector<VcLateFault>& pending = state->config.lateFaults;
    VcFaults& active = state->config.faults;
    for (std::size_t i = 0; i < pending.size();) {
        const VcLateFault& late = pending[i];
        if ((late.afterAccepts ? state->accepts : state->cues) < late.count) {
            ++i;
            continue;
        }
        const VcFaults& f = late.fault;
        active.silent = active.silent || f.silent;
        active.garbage = active.garbage || f.garbage;
        active.noCr = active.noCr || f.noCr;
        active.halfReply = active.halfReply || f.halfReply;
        active.otherReply = active.otherReply || f.otherReply;
        active.trailingBytes = active.trailingBytes || f.trailingBytes;
        active.noPackets = active.noPackets || f.noPackets;
        active.singlePacket = active.singlePacket || f.singlePacket;
        if (f.rejectNext > 0) state->rejectRemaining = f.rejectNext;
        if (f.goneAfter >= 0) {
            active.goneAfter = static_cast<std::int32_t>(
                std::min<std::int64_t>(state->transfers + f.goneAfter, 2147483647LL));
        }
        if (f.slowMs > 0) active.slowMs = f.slowMs;
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

bool TakeForcedReject(VcControllerState* state) {
    if (state->rejectRemaining <= 0) return false;
    --state->rejectRemaining;
    return true;
}

std::string CoefficientText(const VcAxisCoefficients& axis) {
    std::ostringstream text;
    text << axis.factorX << ' ' << axis.factorY << ' ' << axis.offset << ' ' << axis.divisor;
    return text.str();
}

// Carries out one command frame: `payload` is the report after its ID.
void RunCommand(VcSystem* system, int controller, const std::uint8_t* payload, std::uint32_t size) {
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    if (state->config.faults.silent) {
        LogEvent(system, controller, "ignored (silent)");
        return;
    }
    auto frameEndsAt = [&](std::uint32_t index) { return size > index && payload[index] == kCr; };
    if (size < 4 || payload[0] != kSoh) {
        state->mode = VcReportMode::kEmpty;
        LogEvent(system, controller, "unknown frame");
        return;
    }
    const char first = static_cast<char>(payload[1]);
    const char second = static_cast<char>(payload[2]);
    if (first == 'Q' && payload[2] == 0x87 && frameEndsAt(3)) {
        state->mode = VcReportMode::kPackets;
        LogEvent(system, controller, "Q cue");
        ++state->cues;
        ActivateLateFaults(state);
        return;
    }
    if (first == 'R' && second == 's' && frameEndsAt(3)) {
        state->active = state->committed;
        state->stagedValid = false;
        state->mode = VcReportMode::kEmpty;
        LogEvent(system, controller, "Rs restore " + CoefficientText(state->active.axis[0]) + " / " +
                                         CoefficientText(state->active.axis[1]));
        return;
    }
    if (first == 'C' && (second == 'x' || second == 'y') && frameEndsAt(19)) {
        VcAxisCoefficients axis;
        axis.factorX = ReadLe32(payload + 3);
        axis.factorY = ReadLe32(payload + 7);
        axis.offset = ReadLe32(payload + 11);
        axis.divisor = ReadLe32(payload + 15);
        const std::string name = std::string("C") + second;
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, name + " reject (fault) " + CoefficientText(axis));
        } else if (axis.divisor == 0) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, name + " reject (divisor 0) " + CoefficientText(axis));
        } else {
            state->active.axis[second == 'x' ? 0 : 1] = axis;
            SetReply(state, first, second, true);
            LogEvent(system, controller, name + " accept " + CoefficientText(axis));
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    if (first == 'C' && second == 'S' && frameEndsAt(3)) {
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "CS reject (fault)");
        } else {
            state->staged = state->active;
            state->stagedValid = true;
            SetReply(state, first, second, true);
            LogEvent(system, controller, "CS accept");
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    if (first == 'W' && second == 'C' && frameEndsAt(3)) {
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (fault)");
        } else if (!state->stagedValid) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (no CS before it)");
        } else if (!WriteStore(state->config.storePath, state->staged)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (store not written)");
        } else {
            state->committed = state->staged;
            state->stagedValid = false;
            ++state->commits;
            SetReply(state, first, second, true);
            LogEvent(system, controller, "WC accept committed " +
                                             CoefficientText(state->committed.axis[0]) + " / " +
                                             CoefficientText(state->committed.axis[1]));
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    state->mode = VcReportMode::kEmpty;
    LogEvent(system, controller, "unknown command " + Hex2(payload[1]) + " " + Hex2(payload[2]));
}

void WritePackets(VcControllerState* state, std::uint8_t* payload, std::uint32_t size,
                  const VcTouch& touch) {
    const VcFaults& faults = state->config.faults;
    if (!touch.touching || faults.noPackets) return;
    std::uint32_t count = size / 10;
    if (faults.singlePacket && count > 1) count = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t rawX = 0;
        std::uint16_t rawY = 0;
        VcPanelRaw(state->config.panel, touch, &rawX, &rawY);
        const std::int32_t noise = state->config.panel.noise;
        if (noise > 0) {
            const std::uint64_t span = static_cast<std::uint64_t>(noise) * 2 + 1;
            const std::int32_t dx = static_cast<std::int32_t>(NextRandom(&state->random) % span) - noise;
            const std::int32_t dy = static_cast<std::int32_t>(NextRandom(&state->random) % span) - noise;
            rawX = static_cast<std::uint16_t>(std::clamp(rawX + dx, 0, 65535));
            rawY = static_cast<std::uint16_t>(std::clamp(rawY + dy, 0, 65535));
        }
        std::uint8_t* p = payload + i * 10;
        p[0] = 'U';
        p[1] = 'T';
        p[2] = 0x81;  // status: touching
        p[3] = static_cast<std::uint8_t>(rawX & 0xFF);
        p[4] = static_cast<std::uint8_t>(rawX >> 8);
        p[5] = static_cast<std::uint8_t>(rawY & 0xFF);
        p[6] = static_cast<std::uint8_t>(rawY >> 8);
        p[7] = static_cast<std::uint8_t>(i);  // packet sequence
        p[8] = 0x00;
        unsigned sum = 0;
        for (int k = 0; k < 9; ++k) sum += p[k];
        p[9] = static_cast<std::uint8_t>(sum);  // checksum
    }
}

}  // namespace

// ---- public ---------------------------------------------------------------

VcCoefficients VcIdentityCoefficients() {
    VcCoefficients identity;
    identity.axis[0] = VcAxisCoefficients{1, 0, 0, 1};
    identity.axis[1] = VcAxisCoefficients{0, 1, 0, 1};
    return identity;
}

bool VcPanelPreset(const std::string& name, VcPanelModel* model) {
    struct Preset {
        const char* name;
        double a, b, c, d, e, f;
    };
    const double pi = 3.14159265358979323846;
    const double cosT = 0.9 * std::cos(3.0 * pi / 180.0);
    const double sinT = 0.9 * std::sin(3.0 * pi / 180.0);
    const Preset presets[] = {
        {"straight", 1, 0, 0, 0, 1, 0},
        {"mirrored", -1, 0, 1, 0, 1, 0},
        {"swapped", 0, 1, 0, 1, 0, 0},
        {"rotated", cosT, -sinT, 0.5 - 0.5 * cosT + 0.5 * sinT, sinT, cosT, 0.5 - 0.5 * sinT - 0.5 * cosT},
        {"skewed", 0.85, 0.08, 0.04, 0.06, 0.85, 0.05},
        {"offset", 1, 0, 0.07, 0, 1, -0.05},
        {"scaled", 0.6, 0, 0.2, 0, 0.7, 0.15},
    };
    for (const Preset& preset : presets) {
        if (name == preset.name) {
            model->preset = name;
            model->a = preset.a;
            model->b = preset.b;
            model->c = preset.c;
            model->d = preset.d;
            model->e = preset.e;
            model->f = preset.f;
            return true;
        }
    }
    return false;
}

VcControllerConfig VcDefaultControllerConfig() {
    VcControllerConfig config;
    config.vendorId = 0xFFFE;
    config.productId = 0x0001;
    config.versionNumber = 0x0100;
    config.featureReportLength = 101;
    config.acceptsReportId[0] = true;
    config.acceptsReportId[1] = true;
    config.acceptsReportId[2] = true;
    config.valueCapCount = 2;
    config.logicalMax[0] = 0x7FFF;
    config.logicalMax[1] = 0x7FFF;
    config.logicalMax[2] = 0;
    VcPanelPreset("straight", &config.panel);
    config.panel.noise = 0;
    config.seed = 1;
    config.faults = VcFaults();
    config.hasCannedReport = false;
    return config;
}

bool VcParseConfig(const std::string& text, VcConfig* config, std::string* error) {
    *config = VcConfig();
    std::istringstream stream(text);
    std::string line;
    int lineNumber = 0;
    VcControllerConfig* current = nullptr;
    auto fail = [&](const std::string& message) {
        if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + message;
        return false;
    };
    while (std::getline(stream, line)) {
        ++lineNumber;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        const std::string& key = words[0];
        const std::size_t argc = words.size() - 1;
        long long value = 0;
        auto needArgs = [&](std::size_t count) { return argc == count; };
        const std::string usage = "'" + key + "' ";

        if (key == "controller") {
            if (!needArgs(0)) return fail("'controller' takes no value");
            if (config->controllers.size() >= static_cast<std::size_t>(kVcMaxControllers)) {
                return fail("at most " + std::to_string(kVcMaxControllers) + " controllers");
            }
            config->controllers.push_back(VcDefaultControllerConfig());
            config->devices.push_back(
                VcDeviceEntry{true, static_cast<int>(config->controllers.size()) - 1});
            current = &config->controllers.back();
            continue;
        }
        if (key == "log-file") {
            if (argc < 1) return fail("'log-file' needs a path");
            const std::size_t at = line.find("log-file") + 8;
            std::string path = line.substr(at);
            path.erase(0, path.find_first_not_of(" \t"));
            path.erase(path.find_last_not_of(" \t\r") + 1);
            config->logPath = path;
            continue;
        }
        if (key == "other-device") {
            long long vid = 0;
            long long pid = 0;
            if (!needArgs(2) || !ParseRanged(words[1], 0, 0xFFFF, &vid) ||
                !ParseRanged(words[2], 0, 0xFFFF, &pid)) {
                return fail("'other-device' needs a vendor ID and a product ID (0..0xFFFF)");
            }
            config->others.push_back(
                VcOtherDevice{static_cast<std::uint16_t>(vid), static_cast<std::uint16_t>(pid)});
            config->devices.push_back(VcDeviceEntry{false, static_cast<int>(config->others.size()) - 1});
            continue;
        }

        // Everything else configures the controller of the last 'controller' line.
        static const char* const kControllerKeys[] = {"vendor-id", "product-id", "version",
                                                      "report-length", "report-ids", "value-caps",
                                                      "panel", "noise", "seed", "store", "fault",
                                                      "report-bytes"};
        bool known = false;
        for (const char* name : kControllerKeys) known = known || key == name;
        if (!known) return fail("unknown key '" + key + "'");
        if (current == nullptr) return fail(usage + "comes before any 'controller' line");

        if (key == "vendor-id" || key == "product-id" || key == "version") {
            if (!needArgs(1) || !ParseRanged(words[1], 0, 0xFFFF, &value)) {
                return fail(usage + "needs one number 0..0xFFFF");
            }
            const auto v = static_cast<std::uint16_t>(value);
            if (key == "vendor-id") current->vendorId = v;
            if (key == "product-id") current->productId = v;
            if (key == "version") current->versionNumber = v;
        } else if (key == "report-length") {
            if (!needArgs(1) || !ParseRanged(words[1], 0, 0xFFFF, &value)) {
                return fail(usage + "needs one number 0..65535");
            }
            current->featureReportLength = static_cast<std::uint16_t>(value);
        } else if (key == "report-ids") {
            bool accepts[3] = {false, false, false};
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::string token = words[i];
                if (token.rfind("0x", 0) != 0 && token.rfind("0X", 0) != 0) token = "0x" + token;
                int slot = -1;
                if (ParseRanged(token, 0, 0xFF, &value)) slot = ReportIdSlot(static_cast<std::uint8_t>(value));
                if (slot < 0) return fail(usage + "takes report IDs among 55, 01 and 00, not '" + words[i] + "'");
                accepts[slot] = true;
            }
            std::copy(accepts, accepts + 3, current->acceptsReportId);
        } else if (key == "value-caps") {
            if (argc < 1 || !ParseRanged(words[1], 0, kVcMaxValueCaps, &value) ||
                argc != static_cast<std::size_t>(value) + 1) {
                return fail(usage + "needs a count 0..3 followed by that many logical maxima");
            }
            current->valueCapCount = static_cast<std::int32_t>(value);
            for (int i = 0; i < kVcMaxValueCaps; ++i) current->logicalMax[i] = 0;
            for (int i = 0; i < current->valueCapCount; ++i) {
                long long maximum = 0;
                if (!ParseRanged(words[static_cast<std::size_t>(i) + 2], -2147483647LL - 1, 2147483647LL, &maximum)) {
                    return fail(usage + "logical maximum '" + words[static_cast<std::size_t>(i) + 2] +
                                "' is not a signed 32-bit number");
                }
                current->logicalMax[i] = static_cast<std::int32_t>(maximum);
            }
        } else if (key == "panel") {
            const std::int32_t noise = current->panel.noise;
            if (argc == 1 && words[1] != "affine") {
                if (!VcPanelPreset(words[1], &current->panel)) {
                    return fail("unknown panel preset '" + words[1] +
                                "' (straight, mirrored, swapped, rotated, skewed, offset, scaled, affine)");
                }
            } else if (argc == 7 && words[1] == "affine") {
                double k[6];
                for (int i = 0; i < 6; ++i) {
                    if (!ParseDouble(words[static_cast<std::size_t>(i) + 2], &k[i])) {
                        return fail("'panel affine' needs six numbers a b c d e f");
                    }
                }
                current->panel = VcPanelModel{"affine", k[0], k[1], k[2], k[3], k[4], k[5], 0};
            } else {
                return fail("'panel' needs a preset name, or 'affine' and six numbers");
            }
            current->panel.noise = noise;
        } else if (key == "noise") {
            if (!needArgs(1) || !ParseRanged(words[1], 0, 65535, &value)) {
                return fail(usage + "needs one number 0..65535 (raw units)");
            }
            current->panel.noise = static_cast<std::int32_t>(value);
        } else if (key == "seed") {
            if (!needArgs(1) || !ParseRanged(words[1], 0, 0xFFFFFFFFLL, &value)) {
                return fail(usage + "needs one number 0..4294967295");
            }
            current->seed = static_cast<std::uint32_t>(value);
        } else if (key == "report-bytes") {
            std::vector<std::uint8_t> bytes;
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::string token = words[i];
                if (token.rfind("0x", 0) != 0 && token.rfind("0X", 0) != 0) token = "0x" + token;
                if (!ParseRanged(token, 0, 0xFF, &value)) {
                    return fail(usage + "takes hexadecimal bytes, not '" + words[i] + "'");
                }
                bytes.push_back(static_cast<std::uint8_t>(value));
            }
            current->hasCannedReport = true;
            current->cannedReport = bytes;
        } else if (key == "store") {
            if (argc < 1) return fail("'store' needs a path");
            const std::size_t at = line.find("store") + 5;
            std::string path = line.substr(at);
            path.erase(0, path.find_first_not_of(" \t"));
            path.erase(path.find_last_not_of(" \t\r") + 1);
            current->storePath = path;
        } else {  // fault
            if (argc < 1) return fail("'fault' needs a fault name");
            const std::string& name = words[1];
            // "... after-cues K" / "... after-accepts K" holds the fault back.
            std::size_t faultArgc = argc;
            VcLateFault late = {};
            bool isLate = false;
            if (argc >= 3 && (words[argc - 1] == "after-cues" || words[argc - 1] == "after-accepts")) {
                if (!ParseRanged(words[argc], 0, 2147483647LL, &value)) {
                    return fail("'" + words[argc - 1] + "' takes a count, not '" + words[argc] + "'");
                }
                isLate = true;
                late.afterAccepts = words[argc - 1] == "after-accepts";
                late.count = static_cast<std::int32_t>(value);
                late.fault = VcFaults();
                faultArgc -= 2;
            }
            VcFaults& faults = isLate ? late.fault : current->faults;
            const bool flag = faultArgc == 1;
            if (name == "silent" && flag) {
                faults.silent = true;
            } else if (name == "garbage" && flag) {
                faults.garbage = true;
            } else if (name == "no-cr" && flag) {
                faults.noCr = true;
            } else if (name == "half-reply" && flag) {
                faults.halfReply = true;
            } else if (name == "other-reply" && flag) {
                faults.otherReply = true;
            } else if (name == "trailing-bytes" && flag) {
                faults.trailingBytes = true;
            } else if (name == "no-packets" && flag) {
                faults.noPackets = true;
            } else if (name == "single-packet" && flag) {
                faults.singlePacket = true;
            } else if ((name == "reject" || name == "gone-after" || name == "slow") && faultArgc == 2 &&
                       ParseRanged(words[2], 0, 2147483647LL, &value)) {
                if (name == "reject") faults.rejectNext = static_cast<std::int32_t>(value);
                if (name == "gone-after") faults.goneAfter = static_cast<std::int32_t>(value);
                if (name == "slow") faults.slowMs = static_cast<std::uint32_t>(value);
            } else {
                return fail("unknown fault '" + line.substr(line.find("fault") + 5) +
                            "' (silent, reject N, garbage, no-cr, half-reply, other-reply, "
                            "trailing-bytes, "
                            "no-packets, single-packet, gone-after N, slow MS; any of them may end "
                            "with after-cues K or after-accepts K)");
            }
            if (isLate) current->lateFaults.push_back(late);
        }
    }
    return true;
}

bool VcLoadConfigFile(const std::string& path, VcConfig* config, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (error != nullptr) *error = path + ": cannot be opened";
        return false;
    }
    std::string text;
    char chunk[1024];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    std::string message;
    if (!VcParseConfig(text, config, &message)) {
        if (error != nullptr) *error = path + ": " + message;
        return false;
    }
    return true;
}

void VcResetController(VcSystem* system, int controller, const VcControllerConfig& config) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.config = config;
    state.committed = VcIdentityCoefficients();
    VcCoefficients stored;
    if (ReadStore(config.storePath, &stored)) state.committed = stored;
    state.active = state.committed;
    state.staged = state.committed;
    state.stagedValid = false;
    state.mode = config.hasCannedReport ? VcReportMode::kCanned : VcReportMode::kEmpty;
    state.canned = config.cannedReport;
    std::memset(state.reply, 0, sizeof state.reply);
    state.replyLength = 0;
    state.rejectRemaining = config.faults.rejectNext;
    state.transfers = 0;
    state.gone = false;
    state.random = config.seed;
    state.setCount = 0;
    state.getCount = 0;
    state.commits = 0;
    state.cues = 0;
    state.accepts = 0;
    ActivateLateFaults(&state);  // "after-cues 0" holds nothing back
}

void VcReset(VcSystem* system, const VcConfig& config) {
    system->config = config;
    system->controllers.assign(config.controllers.size(), VcControllerState());
    system->log.clear();
    system->nextSequence = 0;
    for (std::size_t i = 0; i < config.controllers.size(); ++i) {
        VcResetController(system, static_cast<int>(i), config.controllers[i]);
    }
}

int VcDeviceCount(const VcSystem& system) {
    return static_cast<int>(system.config.devices.size());
}

bool VcGetDeviceInfo(const VcSystem& system, int deviceIndex, VcDeviceInfo* info) {
    if (deviceIndex < 0 || deviceIndex >= VcDeviceCount(system)) return false;
    const VcDeviceEntry& entry = system.config.devices[static_cast<std::size_t>(deviceIndex)];
    *info = VcDeviceInfo();
    info->isController = entry.isController;
    if (entry.isController) {
        const VcControllerConfig& c = system.controllers[static_cast<std::size_t>(entry.index)].config;
        info->controllerIndex = entry.index;
        info->vendorId = c.vendorId;
        info->productId = c.productId;
        info->versionNumber = c.versionNumber;
        info->featureReportLength = c.featureReportLength;
        info->valueCapCount = c.valueCapCount;
        std::copy(c.logicalMax, c.logicalMax + kVcMaxValueCaps, info->logicalMax);
    } else {
        const VcOtherDevice& o = system.config.others[static_cast<std::size_t>(entry.index)];
        info->controllerIndex = -1;
        info->vendorId = o.vendorId;
        info->productId = o.productId;
        info->versionNumber = 0x0100;
        info->featureReportLength = 0;
        info->valueCapCount = 0;
    }
    return true;
}

const char* VcResultName(VcResult result) {
    switch (result) {
        case VcResult::kOk: return "ok";
        case VcResult::kRefused: return "refused";
        case VcResult::kBadLength: return "bad-length";
        case VcResult::kGone: return "gone";
    }
    return "?";
}

VcResult VcSetFeature(VcSystem* system, int controller, const std::uint8_t* report,
                      std::uint32_t length) {
    if (!ValidController(*system, controller)) return VcResult::kGone;
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    ++state->setCount;
    const VcResult result = CheckTransfer(state, report, length);
    LogTransfer(system, controller, VcLogKind::kSet, report, length, result);
    if (result == VcResult::kOk) RunCommand(system, controller, report + 1, length - 1);
    return result;
}

VcResult VcGetFeature(VcSystem* system, int controller, std::uint8_t* report,
                      std::uint32_t length, const VcTouch& touch) {
    if (!ValidController(*system, controller)) return VcResult::kGone;
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    ++state->getCount;
    const VcResult result = CheckTransfer(state, report, length);
    if (result == VcResult::kOk) {
        const std::uint8_t reportId = report[0];
        std::memset(report + 1, 0, length - 1);
        std::uint8_t* payload = report + 1;
        const std::uint32_t size = length - 1;
        if (!state->config.faults.silent) {
            if (state->mode == VcReportMode::kReply) {
                // Under report ID 0x01 the ID itself stands for the reply's leading 0x01.
                const int skip = reportId == kSoh ? 1 : 0;
                const std::uint32_t count =
                    std::min<std::uint32_t>(size, static_cast<std::uint32_t>(state->replyLength - skip));
                std::memcpy(payload, state->reply + skip, count);
            } else if (state->mode == VcReportMode::kPackets) {
                WritePackets(state, payload, size, touch);
            } else if (state->mode == VcReportMode::kCanned) {
                const std::size_t count = std::min<std::size_t>(size, state->canned.size());
                if (count > 0) std::memcpy(payload, state->canned.data(), count);
            }
        }
    }
    LogTransfer(system, controller, VcLogKind::kGet, report, length, result);
    return result;
}

std::uint32_t VcTransferDelayMs(const VcSystem& system, int controller) {
    if (!ValidController(system, controller)) return 0;
    return system.controllers[static_cast<std::size_t>(controller)].config.faults.slowMs;
}

void VcSetGone(VcSystem* system, int controller, bool gone) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.gone = gone;
    if (!gone) state.config.faults.goneAfter = -1;
}

void VcSetCannedReport(VcSystem* system, int controller, const std::vector<std::uint8_t>& bytes) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.canned = bytes;
    state.mode = VcReportMode::kCanned;
}

void VcPanelRaw(const VcPanelModel& panel, const VcTouch& touch, std::uint16_t* rawX,
                std::uint16_t* rawY) {
    const double width = touch.screenWidth > 0 ? touch.screenWidth : 1;
    const double height = touch.screenHeight > 0 ? touch.screenHeight : 1;
    const double u = touch.x / width;
    const double v = touch.y / height;
    const double x = 65535.0 * (panel.a * u + panel.b * v + panel.c);
    const double y = 65535.0 * (panel.d * u + panel.e * v + panel.f);
    *rawX = static_cast<std::uint16_t>(std::clamp(std::lround(x), 0L, 65535L));
    *rawY = static_cast<std::uint16_t>(std::clamp(std::lround(y), 0L, 65535L));
}

std::int64_t VcApplyAxis(const VcAxisCoefficients& axis, std::uint16_t rawX, std::uint16_t rawY) {
    const std::int64_t sum = static_cast<std::int64_t>(axis.factorX) * rawX +
                             static_cast<std::int64_t>(axis.factorY) * rawY;
    if (axis.divisor == 0) return axis.offset;
    return sum / axis.divisor + axis.offset;
}

bool VcWhereTouchLands(const VcSystem& system, int controller, const VcTouch& touch,
                       VcLanding* landing) {
    if (!ValidController(system, controller)) return false;
    const VcControllerState& state = system.controllers[static_cast<std::size_t>(controller)];
    VcPanelRaw(state.config.panel, touch, &landing->rawX, &landing->rawY);
    landing->deviceX = VcApplyAxis(state.active.axis[0], landing->rawX, landing->rawY);
    landing->deviceY = VcApplyAxis(state.active.axis[1], landing->rawX, landing->rawY);
    const VcControllerConfig& c = state.config;
    const double maxX = (c.valueCapCount >= 1 && c.logicalMax[0] > 0) ? c.logicalMax[0] : 0x7FFF;
    const double maxY = (c.valueCapCount >= 2 && c.logicalMax[1] > 0) ? c.logicalMax[1] : 0x7FFF;
    landing->screenX = static_cast<double>(landing->deviceX) * touch.screenWidth / maxX;
    landing->screenY = static_cast<double>(landing->deviceY) * touch.screenHeight / maxY;
    return true;
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

std::string VcFormatStore(const VcCoefficients& coefficients) {
    return "x " + CoefficientText(coefficients.axis[0]) + "\ny " +
           CoefficientText(coefficients.axis[1]) + "\n";
}

bool VcParseStore(const std::string& text, VcCoefficients* coefficients) {
    std::istringstream stream(text);
    VcCoefficients parsed = VcIdentityCoefficients();
    bool seen[2] = {false, false};
    std::string line;
    while (std::getline(stream, line)) {
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty()) continue;
        if (words.size() != 5 || (words[0] != "x" && words[0] != "y")) return false;
        long long v[4];
        for (int i = 0; i < 4; ++i) {
            if (!ParseRanged(words[static_cast<std::size_t>(i) + 1], -2147483647LL - 1, 2147483647LL, &v[i])) {
                return false;
            }
        }
        const int axis = words[0] == "x" ? 0 : 1;
        parsed.axis[axis] = VcAxisCoefficients{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1]),
                                               static_cast<std::int32_t>(v[2]), static_cast<std::int32_t>(v[3])};
        if (parsed.axis[axis].divisor == 0) return false;
        seen[axis] = true;
    }
    if (!seen[0] || !seen[1]) return false;
    *coefficients = parsed;
    return true;
}
