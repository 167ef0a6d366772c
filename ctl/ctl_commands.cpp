// What the commands share, and the dispatch of the command line. Every
// failure ends in one line on stderr (the permission advice in a few) and a
// non-zero exit status.
#include "ctl/ctl_commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "ctl/ctl_doctor.h"
#include "ctl/ctl_output.h"
#include "ctl/ctl_platform.h"
#include "device/hid_device.h"

#ifndef KELCALIB_VERSION
#define KELCALIB_VERSION "unknown"
#endif

int Fail(int status, const char* format, ...) {
    char message[2 * kCtlMessageSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    std::size_t length = std::strlen(message);
    while (length > 0 && message[length - 1] == '\n') message[--length] = '\0';
    std::fprintf(stderr, "kelcalib-ctl: %s\n", message);
    return status;
}

HidInterfaceInfo* ListInterfaces(std::uint16_t vendorId, int* count) {
    int capacity = 32;
    for (;;) {
        auto* interfaces = static_cast<HidInterfaceInfo*>(
            std::calloc(static_cast<std::size_t>(capacity), sizeof(HidInterfaceInfo)));
        if (interfaces == nullptr) return nullptr;
        *count = ListHidInterfaces(vendorId, interfaces, capacity);
        if (*count >= 0 && *count <= capacity) return interfaces;
        std::free(interfaces);
        if (*count < 0) return nullptr;
        capacity = *count;
    }
}

OpenResult OpenController(std::uint16_t vendorId, std::uint16_t index, char* why,
                          std::size_t whySize) {
    if (OpenTouchDevice(vendorId, index)) {
        if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
            gSession.logicalMaxX = 0x7FFF;
            gSession.logicalMaxY = 0x7FFF;
        }
        return OpenResult::kOpened;
    }
    int count = 0;
    HidInterfaceInfo* interfaces = ListInterfaces(vendorId, &count);
    if (interfaces == nullptr) {
        std::snprintf(why, whySize, "cannot read the system's list of HID devices");
        return OpenResult::kFailed;
    }
    OpenResult result = OpenResult::kNoController;
    int ours = 0;
    for (int i = 0; i < count && result == OpenResult::kNoController; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        if (info.ours && ours++ == index) {
            std::snprintf(why, whySize, "controller %u (%s) cannot be opened%s%s",
                          static_cast<unsigned>(index), info.path, info.problem[0] ? ": " : "",
                          info.problem);
            result = OpenResult::kFailed;
        }
    }
    if (result == OpenResult::kNoController) {
        if (DescribeDeniedAccess(interfaces, count, vendorId, why, whySize)) {
            result = OpenResult::kNoPermission;
        } else if (ours > 0) {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X at index %u (%d found)",
                          vendorId, static_cast<unsigned>(index), ours);
        } else {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X among %d HID devices",
                          vendorId, count);
        }
    }
    std::free(interfaces);
    return result;
}

int OpenOrFail(const CtlOptions& options) {
    char why[kCtlMessageSize] = "";
    switch (OpenController(options.vendorId, options.index, why, sizeof why)) {
        case OpenResult::kOpened: return kCtlExitOk;
        case OpenResult::kNoController: return Fail(kCtlExitNoController, "%s", why);
        case OpenResult::kNoPermission: return Fail(kCtlExitPermission, "%s", why);
        case OpenResult::kFailed: break;
    }
    return Fail(kCtlExitDevice, "%s", why);
}

int RunCtl(int argc, const char* const* argv) {
    CtlOptions options;
    char error[kCtlMessageSize] = "";
    if (!ParseCtlOptions(argc, argv, &options, error, sizeof error)) {
        return Fail(kCtlExitUsage, "%s (see --help)", error);
    }
    if (options.help) {
        PrintCtlUsage(stdout);
        return kCtlExitOk;
    }
    if (options.version) {
        std::printf("kelcalib-ctl %s (vendor ID 0x%04X)\n", KELCALIB_VERSION,
                    static_cast<unsigned>(KELCALIB_VENDOR_ID));
        return kCtlExitOk;
    }
    gSession = InitialSessionState();
    gSession.vendorId = options.vendorId;
    CtlIgnoreBrokenPipe();
    switch (options.command) {
        case CtlCommand::kList: return RunList(options);
        case CtlCommand::kWatch: return RunWatch(options);
        case CtlCommand::kReset: return RunReset(options);
        case CtlCommand::kApply: return RunApply(options);
        case CtlCommand::kDoctor: return RunDoctor(options);
        case CtlCommand::kNone: break;
    }
    return Fail(kCtlExitUsage, "no command given (see --help)");
}
