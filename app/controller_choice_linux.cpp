#include "app/controller_choice_linux.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/hid_device.h"
#include "device/hidraw_linux.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

// The node a --device value names: "/dev/hidrawN" itself, or a link (a
// udev alias) that resolves to one. False with `problem` filled otherwise.
bool NodeOfDevice(const char* device, unsigned* node, char* problem, std::size_t size) {
    if (HidrawNodeNumber(device, node)) return true;
    char resolved[PATH_MAX];
    if (realpath(device, resolved) != nullptr && HidrawNodeNumber(resolved, node)) return true;
    std::snprintf(problem, size, "%s is not a hidraw device node (/dev/hidrawN)", device);
    return false;
}

}  // namespace

bool OpenChosenController(std::uint16_t vendorId, const ControllerChoice& choice,
                          ChosenController* chosen, char* problem, std::size_t size) {
    problem[0] = '\0';
    *chosen = ChosenController{};
    unsigned wanted = 0;
    if (choice.device != nullptr && !NodeOfDevice(choice.device, &wanted, problem, size)) {
        return false;
    }
    char wantedPath[32];
    HidrawPath(wanted, wantedPath, sizeof wantedPath);
    // The controllers in the order OpenTouchDevice counts them: the match
    // index of the named node, or the node of the given index.
    bool listed = false;
    const std::vector<HidInterfaceInfo> nodes = ListAllHidInterfaces(vendorId, &listed);
    if (!listed) {
        std::snprintf(problem, size, "the list of hidraw nodes in /dev cannot be read");
        return false;
    }
    std::uint16_t ours = 0;
    const HidInterfaceInfo* found = nullptr;
    for (const HidInterfaceInfo& info : nodes) {
        const bool named = choice.device != nullptr && std::strcmp(info.path, wantedPath) == 0;
        if (named && !info.ours) {
            // A node that cannot be opened leaves its note (and the udev
            // rule) with the link.
            if (!info.queried && DescribeOpenProblem(problem, size)) return false;
            if (info.queried) {
                std::snprintf(problem, size,
                              "%s is not a controller of vendor ID 0x%04X (it is %04X:%04X%s%s)",
                              wantedPath, vendorId, info.vendorId, info.productId,
                              info.name[0] != '\0' ? " " : "", info.name);
            } else {
                std::snprintf(problem, size, "%s %s", wantedPath, info.problem);
            }
            return false;
        }
        if (!info.ours) continue;
        if (named || (choice.device == nullptr && ours == choice.index)) {
            found = &info;
            break;
        }
        ++ours;
    }
    if (found == nullptr) {
        if (DescribeOpenProblem(problem, size)) return false;
        if (choice.device != nullptr) {
            std::snprintf(problem, size, "there is no HID device at %s", wantedPath);
        } else if (choice.index > 0) {
            std::snprintf(problem, size,
                          "there is no controller %u of vendor ID 0x%04X (%u found; the first is 0)",
                          static_cast<unsigned>(choice.index), vendorId, static_cast<unsigned>(ours));
        }
        return false;
    }
    if (!OpenTouchDevice(vendorId, ours)) {
        DescribeOpenProblem(problem, size);
        return false;
    }
    chosen->index = ours;
    chosen->info = *found;
    HidrawNodeNumber(found->path, &chosen->node);
    return true;
}
