// The virtual controller's config: panel presets, controller defaults and
// the config file parser (format in README.md).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "tools/virtual-controller/vc_internal.h"

using vc_internal::ParseDouble;
using vc_internal::ParseRanged;
using vc_internal::ReportIdSlot;
using vc_internal::SplitWords;

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
    config.logicalMaxBytes = 0;
    config.descriptorSize = 0;
    config.layout = VcLayout::kTouchAndVendor;
    return config;
}

namespace {

// "ID" or "ID:LENGTH" (ID hexadecimal 01..FF, LENGTH 1..65535 with the
// report-ID byte) into `report`; a missing length is 0 unless required.
bool ParseFeatureReport(const std::string& word, bool lengthRequired, VcFeatureReport* report) {
    const std::size_t colon = word.find(':');
    std::string id = word.substr(0, colon);
    if (id.rfind("0x", 0) != 0 && id.rfind("0X", 0) != 0) id = "0x" + id;
    long long value = 0;
    if (!ParseRanged(id, 1, 0xFF, &value)) return false;
    report->id = static_cast<std::uint8_t>(value);
    report->length = 0;
    if (colon == std::string::npos) return !lengthRequired;
    if (!ParseRanged(word.substr(colon + 1), 1, 0xFFFF, &value)) return false;
    report->length = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

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
            if ((argc != 2 && argc != 3) || !ParseRanged(words[1], 0, 0xFFFF, &vid) ||
                !ParseRanged(words[2], 0, 0xFFFF, &pid)) {
                return fail("'other-device' needs a vendor ID and a product ID (0..0xFFFF)");
            }
            const std::string how = argc == 3 ? words[3] : "";
            if (argc == 3 && how != "refuses-open" && how != "no-attributes") {
                return fail("'other-device' takes 'refuses-open' or 'no-attributes' after the IDs, not '" +
                            how + "'");
            }
            config->others.push_back(VcOtherDevice{static_cast<std::uint16_t>(vid),
                                                   static_cast<std::uint16_t>(pid),
                                                   how == "refuses-open", how == "no-attributes"});
            config->devices.push_back(VcDeviceEntry{false, static_cast<int>(config->others.size()) - 1});
            continue;
        }

        // Everything else configures the controller of the last 'controller' line.
        static const char* const kControllerKeys[] = {"vendor-id", "product-id", "version",
                                                      "report-length", "report-ids", "value-caps",
                                                      "panel", "noise", "seed", "store", "fault",
                                                      "report-bytes", "descriptor-ids",
                                                      "second-collection", "logical-max-bytes",
                                                      "descriptor-size", "name-bytes", "layout"};
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
        } else if (key == "descriptor-ids" || key == "second-collection") {
            const bool second = key == "second-collection";
            if (second && current->declaredReports.empty()) {
                return fail(usage + "needs 'descriptor-ids' before it (a descriptor declares report "
                            "IDs everywhere or nowhere)");
            }
            std::vector<VcFeatureReport>& reports = second ? current->secondCollection : current->declaredReports;
            reports.clear();
            if (argc < 1 || argc > static_cast<std::size_t>(kVcMaxDeclaredReports)) {
                return fail(usage + "takes 1 to " + std::to_string(kVcMaxDeclaredReports) + " reports");
            }
            for (std::size_t i = 1; i < words.size(); ++i) {
                VcFeatureReport report{};
                if (!ParseFeatureReport(words[i], second, &report)) {
                    return fail(usage + "takes reports as ID" + (second ? ":LENGTH" : "[:LENGTH]") +
                                " (ID hexadecimal 01..FF, LENGTH 1..65535), not '" + words[i] + "'");
                }
                for (const auto* others : {&current->declaredReports, &current->secondCollection}) {
                    for (const VcFeatureReport& other : *others) {
                        if (other.id == report.id) return fail(usage + "declares report ID " + words[i] + " twice");
                    }
                }
                reports.push_back(report);
            }
        } else if (key == "logical-max-bytes") {
            if (!needArgs(1) || !ParseRanged(words[1], 1, 4, &value) || value == 3) {
                return fail(usage + "needs 1, 2 or 4");
            }
            current->logicalMaxBytes = static_cast<std::uint8_t>(value);
        } else if (key == "layout") {
            if (!needArgs(1) || (words[1] != "touch-and-vendor" && words[1] != "vendor")) {
                return fail(usage + "needs 'touch-and-vendor' or 'vendor'");
            }
            current->layout = words[1] == "vendor" ? VcLayout::kVendor : VcLayout::kTouchAndVendor;
        } else if (key == "descriptor-size") {
            if (!needArgs(1) || !ParseRanged(words[1], 0, 0xFFFF, &value)) {
                return fail(usage + "needs one number 0..65535");
            }
            current->descriptorSize = static_cast<std::uint16_t>(value);
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
        } else if (key == "name-bytes") {
            std::string name;
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::string token = words[i];
                if (token.rfind("0x", 0) != 0 && token.rfind("0X", 0) != 0) token = "0x" + token;
                if (!ParseRanged(token, 1, 0xFF, &value) || name.size() >= 120) {
                    return fail(usage + "takes up to 120 hexadecimal bytes 01..FF, not '" + words[i] + "'");
                }
                name.push_back(static_cast<char>(value));
            }
            current->name = name;
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
