// The virtual touch controller's model: the HID facts its devices present
// (identity, report lengths and IDs, value capabilities) and the panel: where
// a touch reads on the controller and where the system puts it.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "tools/virtual-controller/vc_internal.h"
#include "tools/virtual-controller/virtual_controller.h"

namespace vc_internal {

bool ValidController(const VcSystem& system, int controller) {
    return controller >= 0 && controller < static_cast<int>(system.controllers.size());
}

// A logical maximum as the HID class reads it: written in logicalMaxBytes
// bytes, it is their value signed by that size.
std::int32_t LogicalMaxAsRead(const VcControllerConfig& config, int index) {
    const std::int32_t value = config.logicalMax[index];
    if (config.logicalMaxBytes == 1) return static_cast<std::int8_t>(value & 0xFF);
    if (config.logicalMaxBytes == 2) return static_cast<std::int16_t>(value & 0xFFFF);
    return value;
}

}  // namespace vc_internal

using vc_internal::LogicalMaxAsRead;
using vc_internal::ValidController;

int VcDeviceCount(const VcSystem& system) {
    return static_cast<int>(system.config.devices.size());
}

namespace {

void FillControllerInfo(const VcControllerConfig& c, int controller, VcDeviceInfo* info) {
    info->isController = true;
    info->controllerIndex = controller;
    info->vendorId = c.vendorId;
    info->productId = c.productId;
    info->versionNumber = c.versionNumber;
    info->featureReportLength = c.featureReportLength;
    info->attributesReadable = true;
    info->valueCapCount = c.valueCapCount;
    for (int i = 0; i < kVcMaxValueCaps; ++i) info->logicalMax[i] = LogicalMaxAsRead(c, i);
    const auto copy = [&c](const std::vector<VcFeatureReport>& from, VcFeatureReport* to,
                           std::int32_t* count) {
        *count = static_cast<std::int32_t>(std::min<std::size_t>(from.size(), kVcMaxDeclaredReports));
        for (std::int32_t i = 0; i < *count; ++i) {
            to[i] = from[static_cast<std::size_t>(i)];
            if (to[i].length == 0) to[i].length = c.featureReportLength;
        }
    };
    copy(c.declaredReports, info->declared, &info->declaredCount);
    copy(c.secondCollection, info->second, &info->secondCount);
    info->logicalMaxBytes = c.logicalMaxBytes;
    info->descriptorSize = c.descriptorSize;
    info->layout = c.layout;
}

void FillOtherInfo(const VcOtherDevice& o, VcDeviceInfo* info) {
    info->isController = false;
    info->controllerIndex = -1;
    info->vendorId = o.vendorId;
    info->productId = o.productId;
    info->versionNumber = 0x0100;
    info->featureReportLength = 0;
    info->attributesReadable = !o.noAttributes;
    info->valueCapCount = 0;
}

bool FillInfo(const VcConfig& config, int deviceIndex, VcDeviceInfo* info) {
    if (deviceIndex < 0 || deviceIndex >= static_cast<int>(config.devices.size())) return false;
    const VcDeviceEntry& entry = config.devices[static_cast<std::size_t>(deviceIndex)];
    *info = VcDeviceInfo();
    if (entry.isController) {
        FillControllerInfo(config.controllers[static_cast<std::size_t>(entry.index)], entry.index, info);
    } else {
        FillOtherInfo(config.others[static_cast<std::size_t>(entry.index)], info);
    }
    return true;
}

// The feature reports `reports` (IDs declared) into `collection`, its length
// the longest of them.
void SetFeatureReports(VcCollection* collection, const VcFeatureReport* reports, int count) {
    collection->reportCount = count;
    for (int i = 0; i < count; ++i) {
        collection->reports[i] = reports[i];
        collection->featureReportLength = std::max(collection->featureReportLength, reports[i].length);
    }
}

}  // namespace

bool VcGetDeviceInfo(const VcSystem& system, int deviceIndex, VcDeviceInfo* info) {
    if (deviceIndex < 0 || deviceIndex >= VcDeviceCount(system)) return false;
    const VcDeviceEntry& entry = system.config.devices[static_cast<std::size_t>(deviceIndex)];
    *info = VcDeviceInfo();
    if (entry.isController) {
        // The controller's live config (VcResetController may have changed it).
        FillControllerInfo(system.controllers[static_cast<std::size_t>(entry.index)].config, entry.index, info);
        return true;
    }
    FillOtherInfo(system.config.others[static_cast<std::size_t>(entry.index)], info);
    return true;
}

bool VcConfigDeviceInfo(const VcConfig& config, int deviceIndex, VcDeviceInfo* info) {
    return FillInfo(config, deviceIndex, info);
}

int VcDeviceCollections(const VcDeviceInfo& info, VcCollection* collections) {
    for (int i = 0; i < kVcMaxCollections; ++i) collections[i] = VcCollection();
    if (!info.isController) {
        collections[0].usagePage = 0x01;  // generic desktop: a mouse
        collections[0].usage = 0x02;
        return 1;
    }
    const bool split = info.layout == VcLayout::kTouchAndVendor;
    const bool reportIds = info.declaredCount > 0;
    VcCollection& input = collections[0];
    input.usagePage = split ? 0x0D : 0xFF00;
    input.usage = split ? 0x04 : 0x01;
    input.systemOpened = split;
    input.input = true;
    input.valueCapCount = std::clamp(info.valueCapCount, 0, kVcMaxValueCaps);
    int count = 1;
    if (split) {
        collections[count].usagePage = 0xFF00;
        collections[count].usage = 0x01;
        ++count;
    }
    VcCollection& protocol = collections[count - 1];
    if (reportIds) {
        SetFeatureReports(&protocol, info.declared, info.declaredCount);
    } else if (info.featureReportLength > 0) {
        const VcFeatureReport report0 = {0, info.featureReportLength};
        SetFeatureReports(&protocol, &report0, 1);
    }
    if (info.secondCount > 0) {
        VcCollection& second = collections[count++];
        second.usagePage = 0xFF00;
        second.usage = 0x02;
        SetFeatureReports(&second, info.second, info.secondCount);
    }
    for (int i = 0; i < count; ++i) collections[i].reportIds = reportIds;
    return count;
}

std::uint32_t VcWireReportLength(const VcControllerConfig& config, std::uint8_t reportId) {
    if (config.declaredReports.empty()) return reportId == 0 ? config.featureReportLength : 0;
    for (const auto* reports : {&config.declaredReports, &config.secondCollection}) {
        for (const VcFeatureReport& report : *reports) {
            if (report.id == reportId) return report.length != 0 ? report.length : config.featureReportLength;
        }
    }
    return 0;
}

void VcPanelRaw(const VcPanelModel& panel, const VcTouch& touch, std::uint16_t* rawX,
                std::uint16_t* rawY) {
    const double width = touch.screenWidth > 0 ? touch.screenWidth : 1;
    const double height = touch.screenHeight > 0 ? touch.screenHeight : 1;
    const double u = touch.x / width;
    const double v = touch.y / height;
    const double x = 65535.0 * (panel.a * u + panel.b * v + panel.c);
    const double y = 65535.0 * (panel.d * u + panel.e * v + panel.f);
    *rawX = static_cast<std::uint16_t>(std::clamp(std::lround(x), 0L, 65535L));
    *rawY = static_cast<std::uint16_t>(std::clamp(std::lround(y), 0L, 65535L));
}

std::int64_t VcApplyAxis(const VcAxisCoefficients& axis, std::uint16_t rawX, std::uint16_t rawY) {
    const std::int64_t sum = static_cast<std::int64_t>(axis.factorX) * rawX +
                             static_cast<std::int64_t>(axis.factorY) * rawY;
    if (axis.divisor == 0) return axis.offset;
    return sum / axis.divisor + axis.offset;
}

bool VcWhereTouchLands(const VcSystem& system, int controller, const VcTouch& touch,
                       VcLanding* landing) {
    if (!ValidController(system, controller)) return false;
    const VcControllerState& state = system.controllers[static_cast<std::size_t>(controller)];
    VcPanelRaw(state.config.panel, touch, &landing->rawX, &landing->rawY);
    landing->deviceX = VcApplyAxis(state.active.axis[0], landing->rawX, landing->rawY);
    landing->deviceY = VcApplyAxis(state.active.axis[1], landing->rawX, landing->rawY);
    const VcControllerConfig& c = state.config;
    const std::int32_t readX = LogicalMaxAsRead(c, 0);
    const std::int32_t readY = LogicalMaxAsRead(c, 1);
    const double maxX = (c.valueCapCount >= 1 && readX > 0) ? readX : 0x7FFF;
    const double maxY = (c.valueCapCount >= 2 && readY > 0) ? readY : 0x7FFF;
    landing->screenX = static_cast<double>(landing->deviceX) * touch.screenWidth / maxX;
    landing->screenY = static_cast<double>(landing->deviceY) * touch.screenHeight / maxY;
    return true;
}
