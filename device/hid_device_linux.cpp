// Finding and opening the touch controller among the kernel's hidraw nodes,
// and reading its logical maxima from its report descriptor.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/session_state.h"
#include "device/hid_device.h"
#include "device/hid_link_linux.h"
#include "device/hidraw_linux.h"

namespace {

// Moves a descriptor to 3 or above, so that as a handle it is never 0 (no
// device); -1 when that fails (the descriptor is closed either way).
int AboveStandardStreams(int fd) {
    if (fd >= 3) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}


// The controller on the open node `fd` (vendor already checked) into
// gSession: its descriptor, the lock, the transfer lengths. False with the
// problem noted (the descriptor closed either way when false).
bool TakeController(unsigned node, int fd) {
    HidDescriptorSummary summary;
    if (!ReadHidrawDescriptor(fd, &summary)) {
        NoteDescriptorProblem(node, summary.problem);
        close(fd);
        return false;
    }
    const int kept = AboveStandardStreams(fd);
    if (kept < 0) return false;
    // The lock goes with the descriptor it was taken on: taken after the move.
    if (LockHidrawNode(kept) == EWOULDBLOCK) {
        NoteInUseProblem(node);
        close(kept);
        return false;
    }
    if (!KeepHidLink(kept, summary.reportIds, summary.featureLength)) {
        NoteDescriptorProblem(node, "more controllers are open than the link keeps");
        close(kept);
        return false;
    }
    gSession.device = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(kept));
    gSession.featureReportLength = summary.featureReportLength;
    gSession.deviceGone = false;
    ClearOpenProblem();
    return true;
}

}  // namespace

bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex) {
    ClearOpenProblem();
    std::vector<unsigned> nodes;
    if (!ListHidrawNodes(&nodes)) return false;
    std::uint32_t matchesBefore = 0;
    for (const unsigned node : nodes) {
        int error = 0;
        const int fd = OpenHidrawNode(node, &error);
        if (fd < 0) {
            if (IsPermissionError(error)) NotePermissionProblem(node, error, vendorId);
            continue;
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        if (!ReadHidrawIds(fd, &vendor, &product) || vendor != vendorId) {
            close(fd);
            continue;
        }
        if (matchesBefore != matchIndex) {
            ++matchesBefore;
            close(fd);
            continue;
        }
        // The controller. Without its report descriptor the open fails; later
        // nodes are not examined either way.
        return TakeController(node, fd);
    }
    return false;
}

NodeOpen OpenTouchDeviceAtNode(std::uint16_t vendorId, unsigned node, HidInterfaceInfo* info) {
    ClearOpenProblem();
    *info = HidInterfaceInfo{};
    HidrawPath(node, info->path, sizeof info->path);
    int error = 0;
    const int fd = OpenHidrawNode(node, &error);
    if (fd < 0) {
        if (IsPermissionError(error)) NotePermissionProblem(node, error, vendorId);
        std::snprintf(info->problem, sizeof info->problem, "cannot be opened: %s", std::strerror(error));
        return error == ENOENT || error == ENXIO || error == ENODEV ? NodeOpen::kAbsent : NodeOpen::kRefused;
    }
    ReadHidrawName(fd, info->name, sizeof info->name);
    if (!ReadHidrawIds(fd, &info->vendorId, &info->productId)) {
        std::snprintf(info->problem, sizeof info->problem, "its vendor ID cannot be read");
        close(fd);
        return NodeOpen::kRefused;
    }
    info->queried = true;
    if (info->vendorId != vendorId) {
        close(fd);
        return NodeOpen::kNotOurs;
    }
    info->ours = true;
    return TakeController(node, fd) ? NodeOpen::kOpened : NodeOpen::kRefused;
}

bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY) {
    const int fd = DeviceFileDescriptor(handle);
    if (fd < 0 || maxX == nullptr || maxY == nullptr) return false;
    HidDescriptorSummary summary;
    if (!ReadHidrawDescriptor(fd, &summary)) return false;
    // A maximum X of 0 or below (no input value at all, or a negative
    // maximum) would scale every calibrated touch to one corner or off the
    // screen; the caller then uses 0x7FFF as for unreadable maxima.
    if (summary.logicalMax[0] <= 0) return false;
    *maxX = summary.logicalMax[0];
    *maxY = summary.logicalMax[1];
    return true;
}

void CloseTouchDevice() {
    const int fd = DeviceFileDescriptor(gSession.device);
    if (fd >= 0) {
        ForgetHidLink(fd);
        close(fd);  // the node's lock goes with it
    }
    gSession.device = nullptr;
}

bool TouchDeviceGone() {
    return gSession.deviceGone;
}

bool DescribeDeniedAccess(const HidInterfaceInfo*, int, std::uint16_t, char* why, std::size_t whySize) {
    // The link notes the first node of the vendor ID (or of an unknown one)
    // that refused this user while it listed the nodes; what else it notes
    // (a malformed descriptor, a node in use) is no permission problem.
    return DescribePermissionProblem(why, whySize);
}
