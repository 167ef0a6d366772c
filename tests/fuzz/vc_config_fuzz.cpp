// The virtual controller's config parser over arbitrary text: every input
// gives either a clear error naming its line, or a config whose values are
// all within the ranges the model and the replacement DLLs rely on; a valid
// config then drives the model through a short exchange without faults.
#include <cstdlib>
#include <string>

#include "tools/virtual-controller/virtual_controller.h"

namespace {

void CheckController(const VcControllerConfig& c) {
    if (c.valueCapCount < 0 || c.valueCapCount > kVcMaxValueCaps) std::abort();
    if (c.faults.rejectNext < 0 || c.faults.goneAfter < -1) std::abort();
    if (c.panel.noise < 0) std::abort();
    if (!c.storePath.empty()) std::abort();  // the fuzzer never writes files
}

bool WritesFiles(const std::string& text) {
    return text.find("store") != std::string::npos || text.find("log-file") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (WritesFiles(text)) return 0;  // keep the fuzzer off the file system
    VcConfig config;
    std::string error;
    if (!VcParseConfig(text, &config, &error)) {
        if (error.rfind("line ", 0) != 0 || error.size() < 8) std::abort();
        return 0;
    }
    if (config.controllers.size() > static_cast<std::size_t>(kVcMaxControllers)) std::abort();
    if (config.devices.size() != config.controllers.size() + config.others.size()) std::abort();
    for (const VcDeviceEntry& entry : config.devices) {
        const std::size_t limit = entry.isController ? config.controllers.size() : config.others.size();
        if (entry.index < 0 || static_cast<std::size_t>(entry.index) >= limit) std::abort();
    }
    for (const VcControllerConfig& controller : config.controllers) CheckController(controller);

    VcSystem system;
    VcReset(&system, config);
    const VcTouch touch{100, 80, 1024, 768, true};
    for (int i = 0; i < static_cast<int>(config.controllers.size()); ++i) {
        const std::uint32_t length = config.controllers[static_cast<std::size_t>(i)].featureReportLength;
        if (length > 4096) continue;
        std::string report(length, '\0');
        auto* bytes = reinterpret_cast<std::uint8_t*>(&report[0]);
        const std::uint8_t cue[5] = {0x55, 0x01, 'Q', 0x87, 0x0D};
        for (std::uint32_t k = 0; k < length && k < sizeof cue; ++k) bytes[k] = cue[k];
        VcSetFeature(&system, i, bytes, length);
        if (length > 0) bytes[0] = 0x55;
        VcGetFeature(&system, i, bytes, length, touch);
        VcLanding landing;
        VcWhereTouchLands(system, i, touch, &landing);
    }
    return 0;
}
