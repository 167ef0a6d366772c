#include "display/drm_display_linux.h"

#include <fcntl.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cstdint>
#include <cstdio>

#include "display/display_facts_linux.h"
#include "device/name_text.h"

bool DrmConnectorFacts(int fd, int display, DisplayFacts* facts) {
    drmModeRes* resources = drmModeGetResources(fd);
    if (resources == nullptr) return false;
    bool found = false;
    int shown = 0;
    for (int i = 0; i < resources->count_connectors && !found; ++i) {
        drmModeConnector* connector = drmModeGetConnector(fd, resources->connectors[i]);
        if (connector == nullptr) continue;
        if (connector->connection == DRM_MODE_CONNECTED && connector->count_modes > 0 &&
            shown++ == display) {
            found = true;
            facts->widthMm = static_cast<std::int32_t>(connector->mmWidth);
            facts->heightMm = static_cast<std::int32_t>(connector->mmHeight);
            facts->orientation = 0;
            const char* type = drmModeGetConnectorTypeName(connector->connector_type);
            char name[64];
            std::snprintf(name, sizeof name, "%s-%u", type != nullptr ? type : "unknown",
                          connector->connector_type_id);
            TakeName(name, facts->name, sizeof facts->name);
        }
        drmModeFreeConnector(connector);
    }
    drmModeFreeResources(resources);
    return found;
}

int OpenDrmCard() {
    for (int n = 0; n < 16; ++n) {
        char path[32];
        std::snprintf(path, sizeof path, "/dev/dri/card%d", n);
        const int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        DisplayFacts unused;
        if (DrmConnectorFacts(fd, 0, &unused)) return fd;
        close(fd);
    }
    return -1;
}
