#include "ctl/ctl_output.h"

#include <cinttypes>
#include <cstdio>

#include "device/name_text.h"

namespace {

void PrintReportIds(const CtlListedController& c, bool json) {
    bool first = true;
    for (int i = 0; i < 3; ++i) {
        if (!c.answered[i]) continue;
        std::printf(json ? "%s\"0x%02X\"" : "%s0x%02X", first ? "" : (json ? "," : " "),
                    kCtlReportIds[i]);
        first = false;
    }
    if (first && !json) std::printf("none");
}

void PrintControllerText(const CtlListedController& c, int index) {
    const HidInterfaceInfo& d = *c.info;
    std::printf("controller %d: ", index);
    PrintTextString(d.name[0] != '\0' ? d.name : "(no name)");
    std::printf("\n");
    std::printf("  device:                %s\n", d.path);
    std::printf("  vendor:product:        %04X:%04X\n", d.vendorId, d.productId);
    std::printf("  feature report length: %u bytes\n", static_cast<unsigned>(d.featureReportLength));
    std::printf("  logical maxima:        x %" PRId32 ", y %" PRId32 "\n", d.logicalMaxX,
                d.logicalMaxY);
    if (c.inputDeviceCount >= 0) {
        std::printf("  input device:          ");
        for (int i = 0; i < c.inputDeviceCount; ++i) std::printf("%s%s", i > 0 ? ", " : "", c.inputDevices[i]);
        std::printf("%s\n", c.inputDeviceCount == 0 ? "none" : "");
    }
    if (d.problem[0] != '\0') std::printf("  problem:               %s\n", d.problem);
    std::printf("  report IDs answering:  ");
    if (c.openProblem[0] != '\0') {
        std::printf("not probed (%s)\n", c.openProblem);
    } else {
        PrintReportIds(c, false);
        std::printf("\n");
    }
}

void PrintOtherText(const HidInterfaceInfo& d) {
    if (d.queried) {
        std::printf("not ours: %s (%04X:%04X%s", d.path, d.vendorId, d.productId,
                    d.name[0] != '\0' ? " " : "");
        PrintTextString(d.name);
        std::printf("): %s\n", d.problem);
    } else {
        std::printf("not examined: %s: %s\n", d.path, d.problem);
    }
}

void PrintIds(const HidInterfaceInfo& d) {
    std::printf("\"vendor_id\":\"0x%04X\",\"product_id\":\"0x%04X\",\"name\":", d.vendorId,
                d.productId);
    PrintJsonString(d.name);
}

void PrintControllerJson(const CtlListedController& c, int index) {
    const HidInterfaceInfo& d = *c.info;
    std::printf("{\"index\":%d,\"path\":", index);
    PrintJsonString(d.path);
    std::printf(",");
    PrintIds(d);
    std::printf(",\"feature_report_length\":%u,\"logical_max_x\":%" PRId32
                ",\"logical_max_y\":%" PRId32 ",\"report_ids\":",
                static_cast<unsigned>(d.featureReportLength), d.logicalMaxX, d.logicalMaxY);
    if (c.openProblem[0] == '\0') {
        std::printf("[");
        PrintReportIds(c, true);
        std::printf("]");
    } else {
        std::printf("null");
    }
    if (c.inputDeviceCount >= 0) {
        std::printf(",\"input_devices\":[");
        for (int i = 0; i < c.inputDeviceCount; ++i) {
            if (i > 0) std::printf(",");
            PrintJsonString(c.inputDevices[i]);
        }
        std::printf("]");
    }
    const char* problem = c.openProblem[0] != '\0' ? c.openProblem : d.problem;
    if (problem[0] != '\0') {
        std::printf(",\"problem\":");
        PrintJsonString(problem);
    }
    std::printf("}");
}

void PrintOtherJson(const HidInterfaceInfo& d) {
    std::printf("{\"path\":");
    PrintJsonString(d.path);
    std::printf(",\"queried\":%s,", d.queried ? "true" : "false");
    if (d.queried) {
        PrintIds(d);
        std::printf(",");
    }
    std::printf("\"problem\":");
    PrintJsonString(d.problem);
    std::printf("}");
}

}  // namespace

void PrintList(bool json, bool all, std::uint16_t vendorId, const CtlListedController* controllers,
               int controllerCount, const HidInterfaceInfo* interfaces, int interfaceCount) {
    if (!json) {
        for (int i = 0; i < controllerCount; ++i) PrintControllerText(controllers[i], i);
        for (int i = 0; all && i < interfaceCount; ++i) {
            if (!interfaces[i].ours) PrintOtherText(interfaces[i]);
        }
        return;
    }
    std::printf("{\"vendor_id\":\"0x%04X\",\"controllers\":[", vendorId);
    for (int i = 0; i < controllerCount; ++i) {
        if (i > 0) std::printf(",");
        PrintControllerJson(controllers[i], i);
    }
    std::printf("]");
    if (all) {
        std::printf(",\"other_devices\":[");
        bool first = true;
        for (int i = 0; i < interfaceCount; ++i) {
            if (interfaces[i].ours) continue;
            if (!first) std::printf(",");
            PrintOtherJson(interfaces[i]);
            first = false;
        }
        std::printf("]");
    }
    std::printf("}\n");
}

bool PrintTouch(bool json, std::int64_t milliseconds, bool touching, std::uint16_t x,
                std::uint16_t y) {
    const std::int64_t seconds = milliseconds / 1000;
    const int fraction = static_cast<int>(milliseconds % 1000);
    if (json) {
        if (touching) {
            std::printf("{\"ms\":%" PRId64 ",\"event\":\"touch\",\"x\":%u,\"y\":%u}\n", milliseconds,
                        static_cast<unsigned>(x), static_cast<unsigned>(y));
        } else {
            std::printf("{\"ms\":%" PRId64 ",\"event\":\"lift\"}\n", milliseconds);
        }
    } else if (touching) {
        std::printf("%4" PRId64 ".%03d s  x %5u  y %5u\n", seconds, fraction,
                    static_cast<unsigned>(x), static_cast<unsigned>(y));
    } else {
        std::printf("%4" PRId64 ".%03d s  lifted\n", seconds, fraction);
    }
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

void PrintCommitted(bool json, const char* command, std::uint16_t vendorId, std::uint16_t index,
                    const std::int32_t records[2][4]) {
    const std::int32_t* x = records[0];
    const std::int32_t* y = records[1];
    if (json) {
        std::printf("{\"command\":\"%s\",\"index\":%u,\"vendor_id\":\"0x%04X\",\"committed\":true,"
                    "\"record_x\":[%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32 "],"
                    "\"record_y\":[%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32 "]}\n",
                    command, static_cast<unsigned>(index), vendorId, x[0], x[1], x[2], x[3], y[0],
                    y[1], y[2], y[3]);
    } else {
        std::printf("controller %u: committed record-x %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32
                    ", record-y %" PRId32 " %" PRId32 " %" PRId32 " %" PRId32 "\n",
                    static_cast<unsigned>(index), x[0], x[1], x[2], x[3], y[0], y[1], y[2], y[3]);
    }
}
