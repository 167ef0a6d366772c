#include "display/wayland_probe_linux.h"

#include <strings.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0) *static_cast<bool*>(data) = true;
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

WaylandSeat ProbeWaylandSeat() {
    // Without either, libwayland finds no socket (and says so on stderr).
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!IsSet("XDG_RUNTIME_DIR") && (name == nullptr || name[0] != '/')) {
        return WaylandSeat::kNoCompositor;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return WaylandSeat::kNoCompositor;
    bool seat = false;
    wl_registry* registry = wl_display_get_registry(display);
    WaylandSeat result = WaylandSeat::kNoCompositor;
    if (registry != nullptr) {
        wl_registry_add_listener(registry, &kRegistryListener, &seat);
        if (wl_display_roundtrip(display) >= 0) result = seat ? WaylandSeat::kSeat : WaylandSeat::kNoSeat;
        wl_registry_destroy(registry);
    }
    wl_display_disconnect(display);
    return result;
}

bool AvoidSeatlessWayland(char* error, int capacity) {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver != nullptr && driver[0] != '\0' && strcasecmp(driver, "wayland") != 0) return true;
    if (ProbeWaylandSeat() != WaylandSeat::kNoSeat) return true;
    if (IsSet("DISPLAY")) {
        setenv("SDL_VIDEODRIVER", "x11", 1);
        return true;
    }
    std::snprintf(error, static_cast<std::size_t>(capacity),
                  "the Wayland compositor offers no seat (no touch, pointer or keyboard) and there "
                  "is no X display (DISPLAY) to use instead");
    return false;
}
