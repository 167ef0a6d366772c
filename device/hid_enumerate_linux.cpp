// Every hidraw node, as the support tool lists them (hid_enumerate.h), in
// the order OpenTouchDevice visits them.
#include "device/hid_enumerate.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/hid_device.h"
#include "device/hidraw_linux.h"

namespace {

constexpr std::int32_t kDefaultLogicalMax = 0x7FFF;

void Describe(char* problem, std::size_t size, const char* format, unsigned a, unsigned b) {
    std::snprintf(problem, size, format, a, b);
}

// Fills everything but the path of one node's entry.
void Examine(unsigned node, std::uint16_t vendorId, HidInterfaceInfo* info) {
    int error = 0;
    const int fd = OpenHidrawNode(node, &error);
    if (fd < 0) {
        if (IsPermissionError(error)) NotePermissionProblem(node, error, vendorId);
        const int sysfsVendor = SysfsVendorId(node);
        if (sysfsVendor >= 0) info->vendorId = static_cast<std::uint16_t>(sysfsVendor);
        std::snprintf(info->problem, sizeof info->problem, "cannot be opened: %s%s",
                      std::strerror(error),
                      IsPermissionError(error) && (sysfsVendor < 0 || sysfsVendor == vendorId)
                          ? " (a udev rule grants access)"
                          : "");
        return;
    }
    ReadHidrawName(fd, info->name, sizeof info->name);
    if (!ReadHidrawIds(fd, &info->vendorId, &info->productId)) {
        std::snprintf(info->problem, sizeof info->problem, "its vendor ID cannot be read");
        close(fd);
        return;
    }
    info->queried = true;
    if (info->vendorId != vendorId) {
        Describe(info->problem, sizeof info->problem, "vendor ID 0x%04X is not 0x%04X",
                 info->vendorId, vendorId);
        close(fd);
        return;
    }
    info->ours = true;
    HidDescriptorSummary summary;
    if (!ReadHidrawDescriptor(fd, &summary)) {
        NoteDescriptorProblem(node, summary.problem);
        std::snprintf(info->problem, sizeof info->problem, "%s", summary.problem);
    } else {
        if (LockHidrawNode(fd) == EWOULDBLOCK) {
            std::snprintf(info->problem, sizeof info->problem,
                          "in use by another program (kelcalib or kelcalib-ctl)");
        }
        info->featureReportLength = summary.featureReportLength;
        const bool maxima = summary.logicalMax[0] > 0;
        info->logicalMaxX = maxima ? summary.logicalMax[0] : kDefaultLogicalMax;
        info->logicalMaxY = maxima ? summary.logicalMax[1] : kDefaultLogicalMax;
    }
    close(fd);
}

}  // namespace

int ListHidInterfaces(std::uint16_t vendorId, HidInterfaceInfo* interfaces, int capacity) {
    ClearOpenProblem();
    std::vector<unsigned> nodes;
    if (!ListHidrawNodes(&nodes)) return -1;
    int index = 0;
    for (const unsigned node : nodes) {
        if (interfaces != nullptr && index < capacity) {
            HidInterfaceInfo* info = &interfaces[index];
            std::memset(info, 0, sizeof *info);
            HidrawPath(node, info->path, sizeof info->path);
            Examine(node, vendorId, info);
        }
        ++index;
    }
    return index;
}
