#include "device/hid_enumerate.h"

std::vector<HidInterfaceInfo> ListAllHidInterfaces(std::uint16_t vendorId, bool* listed) {
    std::vector<HidInterfaceInfo> list(16);
    for (;;) {
        const int count = ListHidInterfaces(vendorId, list.data(), static_cast<int>(list.size()));
        *listed = count >= 0;
        if (count < 0) return {};
        // More than there was room for: again with room for all of them.
        const bool all = static_cast<std::size_t>(count) <= list.size();
        list.resize(static_cast<std::size_t>(count));
        if (all) return list;
    }
}
