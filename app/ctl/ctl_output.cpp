#include "app/ctl/ctl_output.h"

#include <cinttypes>
#include <cstdio>

namespace {

std::string ReportIdsText(const CtlListedController& c, bool json) {
    std::string text;
    for (int i = 0; i < 3; ++i) {
        if (!c.answered[i]) continue;
        char id[16];
        std::snprintf(id, sizeof id, json ? "\"0x%02X\"" : "0x%02X", kCtlReportIds[i]);
        if (!text.empty()) text += json ? "," : " ";
        text += id;
    }
    return text;
}

void PrintControllerText(const CtlListedController& c) {
    const HidInterfaceInfo& d = c.info;
    std::printf("controller %d: %s\n", c.index, d.name[0] != '\0' ? d.name : "(no name)");
    std::printf("  device:                %s\n", d.path);
    std::printf("  vendor:product:        %04X:%04X\n", d.vendorId, d.productId);
    std::printf("  feature report length: %u bytes\n", static_cast<unsigned>(d.featureReportLength));
    std::printf("  logical maxima:        x %" PRId32 ", y %" PRId32 "\n", d.logicalMaxX,
                d.logicalMaxY);
    if (!c.openProblem.empty()) {
        std::printf("  report IDs answering:  not probed (%s)\n", c.openProblem.c_str());
    } else {
        const std::string ids = ReportIdsText(c, false);
        std::printf("  report IDs answering:  %s\n", ids.empty() ? "none" : ids.c_str());
    }
}

void PrintOtherText(const HidInterfaceInfo& d) {
    if (d.queried) {
        std::printf("not ours: %s (%04X:%04X%s%s): %s\n", d.path, d.vendorId, d.productId,
                    d.name[0] != '\0' ? " " : "", d.name, d.problem);
    } else {
        std::printf("not ours: %s: %s\n", d.path, d.problem);
    }
}

std::string ControllerJson(const CtlListedController& c) {
    const HidInterfaceInfo& d = c.info;
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "\"feature_report_length\":%u,\"logical_max_x\":%" PRId32
                  ",\"logical_max_y\":%" PRId32,
                  static_cast<unsigned>(d.featureReportLength), d.logicalMaxX, d.logicalMaxY);
    std::string json = "{\"index\":" + std::to_string(c.index) + ",\"path\":" + JsonQuote(d.path) +
                       ",\"vendor_id\":\"" + HexId(d.vendorId) + "\",\"product_id\":\"" +
                       HexId(d.productId) + "\",\"name\":" + JsonQuote(d.name) + "," + numbers;
    if (c.openProblem.empty()) {
        json += ",\"report_ids\":[" + ReportIdsText(c, true) + "]";
    } else {
        json += ",\"report_ids\":null,\"problem\":" + JsonQuote(c.openProblem);
    }
    return json + "}";
}

std::string OtherJson(const HidInterfaceInfo& d) {
    std::string json = "{\"path\":" + JsonQuote(d.path) + ",\"queried\":" +
                       (d.queried ? "true" : "false");
    if (d.queried) {
        json += ",\"vendor_id\":\"" + HexId(d.vendorId) + "\",\"product_id\":\"" +
                HexId(d.productId) + "\",\"name\":" + JsonQuote(d.name);
    }
    return json + ",\"problem\":" + JsonQuote(d.problem) + "}";
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string HexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

void PrintList(bool json, bool all, std::uint16_t vendorId,
               const std::vector<CtlListedController>& controllers,
               const std::vector<HidInterfaceInfo>& others) {
    if (json) {
        std::string out = "{\"vendor_id\":\"" + HexId(vendorId) + "\",\"controllers\":[";
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            out += (i > 0 ? "," : "") + ControllerJson(controllers[i]);
        }
        out += "]";
        if (all) {
            out += ",\"other_devices\":[";
            for (std::size_t i = 0; i < others.size(); ++i) {
                out += (i > 0 ? "," : "") + OtherJson(others[i]);
            }
            out += "]";
        }
        std::printf("%s}\n", out.c_str());
        return;
    }
    for (const CtlListedController& c : controllers) PrintControllerText(c);
    if (all) {
        for (const HidInterfaceInfo& d : others) PrintOtherText(d);
    }
}

void PrintTouch(bool json, std::int64_t milliseconds, bool touching, std::uint16_t x,
                std::uint16_t y) {
    if (json) {
        if (touching) {
            std::printf("{\"ms\":%" PRId64 ",\"event\":\"touch\",\"x\":%u,\"y\":%u}\n", milliseconds,
                        static_cast<unsigned>(x), static_cast<unsigned>(y));
        } else {
            std::printf("{\"ms\":%" PRId64 ",\"event\":\"lift\"}\n", milliseconds);
        }
    } else if (touching) {
        std::printf("%8.3f s  x %5u  y %5u\n", static_cast<double>(milliseconds) / 1000.0,
                    static_cast<unsigned>(x), static_cast<unsigned>(y));
    } else {
        std::printf("%8.3f s  lifted\n", static_cast<double>(milliseconds) / 1000.0);
    }
    std::fflush(stdout);
}
