#include "display/wayland_outputs_linux.h"

#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/name_text.h"

namespace {

// The xdg-output protocol (zxdg_output_manager_v1, version 2: the output's
// name), which compositors that offer wl_output only up to version 3 offer
// (weston 10). Its interfaces as wayland-scanner would write them.
extern const wl_interface kXdgOutputInterface;
const wl_interface* kGetXdgOutputTypes[] = {&kXdgOutputInterface, &wl_output_interface};
const wl_interface* kNoTypes[] = {nullptr, nullptr};
const wl_message kManagerRequests[] = {{"destroy", "", kNoTypes}, {"get_xdg_output", "no", kGetXdgOutputTypes}};
const wl_interface kXdgOutputManagerInterface = {"zxdg_output_manager_v1", 2, 2, kManagerRequests, 0, nullptr};
const wl_message kXdgOutputRequests[] = {{"destroy", "", kNoTypes}};
const wl_message kXdgOutputEvents[] = {{"logical_position", "ii", kNoTypes},
                                       {"logical_size", "ii", kNoTypes},
                                       {"done", "", kNoTypes},
                                       {"name", "2s", kNoTypes},
                                       {"description", "2s", kNoTypes}};
const wl_interface kXdgOutputInterface = {"zxdg_output_v1", 2, 1, kXdgOutputRequests, 5, kXdgOutputEvents};

constexpr int kMostOutputs = 16;

struct Output {
    wl_output* output;
    wl_proxy* xdgOutput;
    std::int32_t x;
    std::int32_t y;
    char name[64];
};

struct Outputs {
    int count;
    wl_proxy* manager;
    Output output[kMostOutputs];
};

void OnLogicalPosition(void* data, wl_proxy*, std::int32_t x, std::int32_t y) {
    auto* output = static_cast<Output*>(data);
    output->x = x;
    output->y = y;
}
void OnLogicalSize(void*, wl_proxy*, std::int32_t, std::int32_t) {}
void OnXdgDone(void*, wl_proxy*) {}
void OnXdgName(void* data, wl_proxy*, const char* name) {
    auto* output = static_cast<Output*>(data);
    TakeName(name, output->name, sizeof output->name);
}
void OnXdgDescription(void*, wl_proxy*, const char*) {}
struct XdgOutputListener {
    void (*logicalPosition)(void*, wl_proxy*, std::int32_t, std::int32_t);
    void (*logicalSize)(void*, wl_proxy*, std::int32_t, std::int32_t);
    void (*done)(void*, wl_proxy*);
    void (*name)(void*, wl_proxy*, const char*);
    void (*description)(void*, wl_proxy*, const char*);
};
const XdgOutputListener kXdgOutputListener = {OnLogicalPosition, OnLogicalSize, OnXdgDone, OnXdgName,
                                              OnXdgDescription};

void OnGeometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                std::int32_t, const char*, const char*, std::int32_t) {
    auto* output = static_cast<Output*>(data);
    output->x = x;
    output->y = y;
}

void OnMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {}
void OnDone(void*, wl_output*) {}
void OnScale(void*, wl_output*, std::int32_t) {}

#ifdef WL_OUTPUT_NAME_SINCE_VERSION
void OnName(void* data, wl_output*, const char* name) {
    auto* output = static_cast<Output*>(data);
    TakeName(name, output->name, sizeof output->name);
}
void OnDescription(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnDone, OnScale, OnName, OnDescription};
constexpr std::uint32_t kOutputVersion = 4;
#else
const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnDone, OnScale};
constexpr std::uint32_t kOutputVersion = 2;
#endif

void OnGlobal(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
              std::uint32_t version) {
    auto* outputs = static_cast<Outputs*>(data);
    if (std::strcmp(interface, kXdgOutputManagerInterface.name) == 0 && version >= 2) {
        outputs->manager =
            static_cast<wl_proxy*>(wl_registry_bind(registry, id, &kXdgOutputManagerInterface, 2));
        return;
    }
    if (std::strcmp(interface, wl_output_interface.name) != 0 || outputs->count >= kMostOutputs) return;
    Output& output = outputs->output[outputs->count++];
    output = Output{};
    const std::uint32_t bound = version < kOutputVersion ? version : kOutputVersion;
    output.output = static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, bound));
    if (output.output != nullptr) wl_output_add_listener(output.output, &kOutputListener, &output);
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

}  // namespace

bool WaylandOutputName(const DisplayArea& area, char* name, std::size_t size) {
    if (size == 0) return false;
    name[0] = '\0';
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return false;
    Outputs outputs{};
    wl_registry* registry = wl_display_get_registry(display);
    if (registry != nullptr) {
        wl_registry_add_listener(registry, &kRegistryListener, &outputs);
        // The globals, then each output's events (and its xdg-output's).
        if (wl_display_roundtrip(display) >= 0) {
            for (int i = 0; outputs.manager != nullptr && i < outputs.count; ++i) {
                Output& o = outputs.output[i];
                if (o.output == nullptr) continue;
                o.xdgOutput = wl_proxy_marshal_constructor(outputs.manager, 1, &kXdgOutputInterface, nullptr,
                                                           o.output);
                if (o.xdgOutput != nullptr) {
                    wl_proxy_add_listener(o.xdgOutput,
                                          reinterpret_cast<void (**)(void)>(const_cast<XdgOutputListener*>(
                                              &kXdgOutputListener)),
                                          &o);
                }
            }
            wl_display_roundtrip(display);
        }
    }
    const Output* found = nullptr;
    for (int i = 0; i < outputs.count; ++i) {
        const Output& o = outputs.output[i];
        if (o.x == area.x && o.y == area.y) found = found == nullptr ? &o : found;
    }
    if (found == nullptr && outputs.count == 1) found = &outputs.output[0];
    if (found != nullptr) std::snprintf(name, size, "%s", found->name);
    for (int i = 0; i < outputs.count; ++i) {
        if (outputs.output[i].xdgOutput != nullptr) wl_proxy_destroy(outputs.output[i].xdgOutput);
        if (outputs.output[i].output != nullptr) wl_output_destroy(outputs.output[i].output);
    }
    if (outputs.manager != nullptr) wl_proxy_destroy(outputs.manager);
    if (registry != nullptr) wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return name[0] != '\0';
}
