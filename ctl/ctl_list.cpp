// kelcalib-ctl list: the controllers of the vendor ID, each opened to read
// its report length, maxima and the report IDs that answer; with --all every
// other HID device and why it is not one.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "ctl/ctl_commands.h"
#include "ctl/ctl_output.h"
#include "ctl/ctl_platform.h"
#include "device/hid_device.h"

namespace {

// Which of the three report IDs answer a feature read of the open controller.
void ProbeReportIds(bool answered[3]) {
    const std::size_t size = gSession.featureReportLength > kFeatureBufferSize
                                 ? gSession.featureReportLength
                                 : kFeatureBufferSize;
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(size, 1));
    for (int i = 0; i < 3; ++i) {
        answered[i] = false;
        if (buffer == nullptr) continue;
        std::memset(buffer, 0, size);
        buffer[0] = kCtlReportIds[i];
        answered[i] = PlatformGetFeature(gSession.device, buffer, gSession.featureReportLength);
    }
    std::free(buffer);
}

}  // namespace

int RunList(const CtlOptions& options) {
    int count = 0;
    HidInterfaceInfo* interfaces = ListInterfaces(options.vendorId, &count);
    if (interfaces == nullptr) {
        return Fail(kCtlExitDevice, "cannot read the system's list of HID devices");
    }
    auto* controllers = static_cast<CtlListedController*>(
        std::calloc(static_cast<std::size_t>(count) + 1, sizeof(CtlListedController)));
    if (controllers == nullptr) {
        std::free(interfaces);
        return Fail(kCtlExitDevice, "out of memory");
    }
    // Asked before any open: the system's note of what stood in the way is
    // the listing's.
    char denied[kCtlMessageSize] = "";
    const bool accessDenied =
        DescribeDeniedAccess(interfaces, count, options.vendorId, denied, sizeof denied);
    int controllerCount = 0;
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        if (!info.ours) continue;
        CtlListedController& c = controllers[controllerCount];
        c.info = &info;
        CtlInputDevices(info, &c);
        if (OpenController(options.vendorId, static_cast<std::uint16_t>(controllerCount),
                           c.openProblem, sizeof c.openProblem) == OpenResult::kOpened) {
            c.openProblem[0] = '\0';
            ProbeReportIds(c.answered);
            CloseTouchDevice();
        }
        ++controllerCount;
    }
    PrintList(options.json, options.all, options.vendorId, controllers, controllerCount, interfaces,
              count);
    std::free(controllers);
    std::free(interfaces);
    if (controllerCount > 0) return kCtlExitOk;
    if (accessDenied) return Fail(kCtlExitPermission, "%s", denied);
    return Fail(kCtlExitNoController, "no controller with vendor ID 0x%04X among %d HID devices%s",
                options.vendorId, count, options.all ? "" : " (--all lists them)");
}

