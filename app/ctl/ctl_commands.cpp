// The four commands. Every failure ends in one line on stderr and a non-zero
// exit status; nothing is committed after a record the controller did not
// accept.
#include "app/ctl/ctl_commands.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/ctl/ctl_options.h"
#include "app/ctl/ctl_output.h"
#include "app/ctl/ctl_platform.h"
#include "app/ctl/ctl_records.h"
#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"

#ifndef KELCALIB_VERSION
#define KELCALIB_VERSION "unknown"
#endif

namespace {

// Between two reads of the touch packets in `watch`.
constexpr std::uint32_t kWatchPollMs = 20;

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "kelcalib-ctl: %s\n", message.c_str());
    return status;
}

// Every HID interface in search order; false when the system's list can't
// be read.
bool ListInterfaces(std::uint16_t vendorId, std::vector<HidInterfaceInfo>* interfaces) {
    interfaces->assign(32, HidInterfaceInfo{});
    for (;;) {
        const int capacity = static_cast<int>(interfaces->size());
        const int count = ListHidInterfaces(vendorId, interfaces->data(), capacity);
        if (count < 0) return false;
        if (count <= capacity) {
            interfaces->resize(static_cast<std::size_t>(count));
            return true;
        }
        interfaces->assign(static_cast<std::size_t>(count), HidInterfaceInfo{});
    }
}

// Which of the three report IDs answer a feature read of the open controller.
void ProbeReportIds(bool answered[3]) {
    const std::size_t size = gSession.featureReportLength > kFeatureBufferSize
                                 ? gSession.featureReportLength
                                 : kFeatureBufferSize;
    std::vector<std::uint8_t> buffer(size);
    for (int i = 0; i < 3; ++i) {
        buffer.assign(size, 0);
        buffer[0] = kCtlReportIds[i];
        answered[i] = PlatformGetFeature(gSession.device, buffer.data(), gSession.featureReportLength);
    }
}

int RunList(const CtlOptions& options) {
    std::vector<HidInterfaceInfo> interfaces;
    if (!ListInterfaces(options.vendorId, &interfaces)) {
        return Fail(kCtlExitDevice, "cannot read the system's list of HID devices");
    }
    std::vector<CtlListedController> controllers;
    std::vector<HidInterfaceInfo> others;
    std::string denied;
    for (const HidInterfaceInfo& info : interfaces) {
        if (!info.ours) {
            others.push_back(info);
            std::string why;
            if (denied.empty() && CtlDeniedController(info, options.vendorId, &why)) denied = why;
            continue;
        }
        CtlListedController c{};
        c.info = info;
        c.index = static_cast<int>(controllers.size());
        std::string why;
        if (CtlOpenController(options.vendorId, static_cast<std::uint16_t>(c.index), &why) ==
            CtlOpenResult::kOpened) {
            ProbeReportIds(c.answered);
            CtlCloseController();
        } else {
            c.openProblem = why;
        }
        controllers.push_back(c);
    }
    PrintList(options.json, options.all, options.vendorId, controllers, others);
    if (!controllers.empty()) return kCtlExitOk;
    if (!denied.empty()) return Fail(kCtlExitPermission, denied);
    return Fail(kCtlExitNoController,
                "no controller with vendor ID " + HexId(options.vendorId) + " among " +
                    std::to_string(interfaces.size()) + " HID devices" +
                    (options.all ? "" : " (--all lists them)"));
}

int OpenOrFail(const CtlOptions& options) {
    std::string why;
    switch (CtlOpenController(options.vendorId, options.index, &why)) {
        case CtlOpenResult::kOpened: return kCtlExitOk;
        case CtlOpenResult::kNoController: return Fail(kCtlExitNoController, why);
        case CtlOpenResult::kNoPermission: return Fail(kCtlExitPermission, why);
        case CtlOpenResult::kFailed: break;
    }
    return Fail(kCtlExitDevice, why);
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// One line per change: a touch where the position differs from the last
// line's (or follows a lift), and a lift when the packets stop. A finger
// held still prints nothing more.
int RunWatch(const CtlOptions& options) {
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    std::fprintf(stderr,
                 "kelcalib-ctl: watching controller %u (vendor ID %s, logical maxima x %d, y %d); "
                 "touch the panel, Ctrl-C ends\n",
                 static_cast<unsigned>(options.index), HexId(options.vendorId).c_str(),
                 static_cast<int>(gSession.logicalMaxX), static_cast<int>(gSession.logicalMaxY));
    CtlCatchInterrupt();
    SendTargetCue();
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t limit = static_cast<std::int64_t>(options.seconds) * 1000;
    bool touching = false;
    std::uint16_t lastX = 0;
    std::uint16_t lastY = 0;
    long lines = 0;
    while (!CtlInterrupted() && (limit == 0 || MillisecondsSince(start) < limit)) {
        std::uint16_t x = 0;
        std::uint16_t y = 0;
        if (ReadTouchPoint(&x, &y)) {
            if (!touching || x != lastX || y != lastY) {
                PrintTouch(options.json, MillisecondsSince(start), true, x, y);
                ++lines;
            }
            touching = true;
            lastX = x;
            lastY = y;
        } else if (touching) {
            PrintTouch(options.json, MillisecondsSince(start), false, 0, 0);
            ++lines;
            touching = false;
        }
        WaitMilliseconds(kWatchPollMs);
    }
    const bool aborted = SendAbort();
    CtlCloseController();
    CtlInterruptHandled();
    if (!aborted) {
        return Fail(kCtlExitDevice,
                    "the abort command could not be sent: the controller may still be in touch "
                    "packet mode (unplug it or run watch again)");
    }
    std::fprintf(stderr, "kelcalib-ctl: %ld line%s; abort command sent\n", lines,
                 lines == 1 ? "" : "s");
    return kCtlExitOk;
}

// After a step that was not accepted the abort command puts the
// controller back on its committed calibration: an X record it took must not
// stay active beside the old Y.
int FailAndRestore(const char* what) {
    const bool restored = SendAbort();
    return Fail(kCtlExitDevice,
                std::string("the controller did not accept ") + what +
                    " (rejected, or no reply); nothing was committed" +
                    (restored ? " and the controller is back on its committed calibration"
                              : " and the abort command failed too"));
}

// Sends both records (identity, or those in gSession.deviceRecords), then CS
// and WC; stops at the first step that is not accepted.
int SendAndCommit(bool identity) {
    if (!(identity ? SendIdentityX() : SendAxisRecordX())) return FailAndRestore("the X record");
    if (!(identity ? SendIdentityY() : SendAxisRecordY())) return FailAndRestore("the Y record");
    if (!CommitCalibration()) return FailAndRestore("the commit (CS, WC)");
    return kCtlExitOk;
}

void PrintCommitted(const CtlOptions& options, const char* command) {
    const std::int32_t(*r)[4] = gSession.deviceRecords;
    if (options.json) {
        std::printf("{\"command\":\"%s\",\"index\":%u,\"vendor_id\":\"%s\",\"committed\":true,"
                    "\"record_x\":[%d,%d,%d,%d],\"record_y\":[%d,%d,%d,%d]}\n",
                    command, static_cast<unsigned>(options.index), HexId(options.vendorId).c_str(),
                    static_cast<int>(r[0][0]), static_cast<int>(r[0][1]), static_cast<int>(r[0][2]),
                    static_cast<int>(r[0][3]), static_cast<int>(r[1][0]), static_cast<int>(r[1][1]),
                    static_cast<int>(r[1][2]), static_cast<int>(r[1][3]));
    } else {
        std::printf("controller %u: committed record-x %d %d %d %d, record-y %d %d %d %d\n",
                    static_cast<unsigned>(options.index), static_cast<int>(r[0][0]),
                    static_cast<int>(r[0][1]), static_cast<int>(r[0][2]), static_cast<int>(r[0][3]),
                    static_cast<int>(r[1][0]), static_cast<int>(r[1][1]), static_cast<int>(r[1][2]),
                    static_cast<int>(r[1][3]));
    }
}

int RunReset(const CtlOptions& options) {
    if (!options.yes) {
        return Fail(kCtlExitUsage,
                    "reset replaces the controller's calibration with its factory mapping; "
                    "add --yes to do it");
    }
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    const int status = SendAndCommit(true);
    CtlCloseController();
    if (status != kCtlExitOk) return status;
    const std::int32_t identity[2][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}};
    for (int axis = 0; axis < 2; ++axis) {
        for (int v = 0; v < 4; ++v) gSession.deviceRecords[axis][v] = identity[axis][v];
    }
    PrintCommitted(options, "reset");
    return kCtlExitOk;
}

// The whole records file (or standard input), at most one byte past the
// limit so that the parser can refuse a larger one.
bool ReadRecordsFile(const std::string& path, std::string* text, std::string* error) {
    const bool standardInput = path.empty() || path == "-";
    std::FILE* file = standardInput ? stdin : CtlOpenFileForReading(path);
    if (file == nullptr) {
        *error = "cannot open the records file " + path;
        return false;
    }
    text->clear();
    char chunk[4096];
    std::size_t got = 0;
    while (text->size() <= kRecordsFileMax && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, got);
    }
    const bool readError = std::ferror(file) != 0;
    if (!standardInput) std::fclose(file);
    if (readError) {
        *error = "cannot read the records file " + (standardInput ? std::string("(standard input)") : path);
        return false;
    }
    return true;
}

int RunApply(const CtlOptions& options) {
    if (!options.yes) {
        return Fail(kCtlExitUsage,
                    "apply replaces the controller's calibration with the records; add --yes to "
                    "do it");
    }
    std::string text;
    std::string error;
    if (!ReadRecordsFile(options.recordsPath, &text, &error)) return Fail(kCtlExitUsage, error);
    std::int32_t records[2][4];
    if (!ParseRecordsText(text, records, &error)) {
        const std::string name = options.recordsPath.empty() || options.recordsPath == "-"
                                     ? std::string("(standard input)")
                                     : options.recordsPath;
        return Fail(kCtlExitUsage, "malformed records file " + name + ": " + error +
                                       "; nothing was sent");
    }
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    for (int axis = 0; axis < 2; ++axis) {
        for (int v = 0; v < 4; ++v) gSession.deviceRecords[axis][v] = records[axis][v];
    }
    const int status = SendAndCommit(false);
    CtlCloseController();
    if (status != kCtlExitOk) return status;
    PrintCommitted(options, "apply");
    return kCtlExitOk;
}

}  // namespace

int RunCtl(int argc, const char* const* argv) {
    CtlOptions options;
    std::string error;
    if (!ParseCtlOptions(argc, argv, &options, &error)) {
        return Fail(kCtlExitUsage, error + " (see --help)");
    }
    if (options.help) {
        std::fputs(CtlUsageText().c_str(), stdout);
        return kCtlExitOk;
    }
    if (options.version) {
        std::printf("kelcalib-ctl %s (vendor ID 0x%04X)\n", KELCALIB_VERSION,
                    static_cast<unsigned>(KELCALIB_VENDOR_ID));
        return kCtlExitOk;
    }
    gSession = InitialSessionState();
    gSession.vendorId = options.vendorId;
    switch (options.command) {
        case CtlCommand::kList: return RunList(options);
        case CtlCommand::kWatch: return RunWatch(options);
        case CtlCommand::kReset: return RunReset(options);
        case CtlCommand::kApply: return RunApply(options);
        case CtlCommand::kNone: break;
    }
    return Fail(kCtlExitUsage, "no command given (see --help)");
}
