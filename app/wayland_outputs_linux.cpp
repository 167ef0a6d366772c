#include "app/wayland_outputs_linux.h"

#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/name_text.h"

namespace {

constexpr int kMostOutputs = 16;

struct Output {
    wl_output* output;
    std::int32_t x;
    std::int32_t y;
    char name[64];
};

struct Outputs {
    int count;
    Output output[kMostOutputs];
};

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
        // The globals, then each output's events.
        if (wl_display_roundtrip(display) >= 0) wl_display_roundtrip(display);
    }
    const Output* found = nullptr;
    for (int i = 0; i < outputs.count; ++i) {
        const Output& o = outputs.output[i];
        if (o.x == area.x && o.y == area.y) found = found == nullptr ? &o : found;
    }
    if (found == nullptr && outputs.count == 1) found = &outputs.output[0];
    if (found != nullptr) std::snprintf(name, size, "%s", found->name);
    for (int i = 0; i < outputs.count; ++i) {
        if (outputs.output[i].output != nullptr) wl_output_destroy(outputs.output[i].output);
    }
    if (registry != nullptr) wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return name[0] != '\0';
}
