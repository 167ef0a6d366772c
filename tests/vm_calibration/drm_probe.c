/* What a person sees of a DRM display, for the calibration VM where no X
 * server is there to ask (the program on SDL's KMS/DRM driver, or a Wayland
 * compositor driving the display):
 *
 *   drm_probe buttons     the centre "X Y" of each large button the
 *                         program's question shows, left to right
 *
 * Reads the framebuffer the first active CRTC scans out (its handle comes to
 * root while another program is the DRM master; a dumb buffer, as software
 * rendering on the bochs driver uses, can be mapped), 32 bits per pixel.
 * Only reads. */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <drm.h>
#include <drm_mode.h>

#include "face_buttons.h"

struct Scanout {
    const uint8_t* bytes;
    uint32_t pitch;
};

static unsigned long drm_pixel(void* screen, int x, int y) {
    const struct Scanout* s = (const struct Scanout*)screen;
    uint32_t value;
    memcpy(&value, s->bytes + (size_t)y * s->pitch + (size_t)x * 4, sizeof value);
    return value & 0xFFFFFF; /* XRGB8888 / ARGB8888 */
}

static int fail(const char* what) {
    fprintf(stderr, "drm_probe: %s: %s\n", what, strerror(errno));
    return 1;
}

/* The framebuffer ID the first active CRTC shows, or 0. */
static uint32_t scanout_fb(int fd) {
    struct drm_mode_card_res res;
    memset(&res, 0, sizeof res);
    if (ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res) != 0 || res.count_crtcs == 0) return 0;
    uint32_t crtcs[16];
    if (res.count_crtcs > 16) res.count_crtcs = 16;
    const uint32_t count = res.count_crtcs;
    memset(&res, 0, sizeof res);
    res.count_crtcs = count;
    res.crtc_id_ptr = (uint64_t)(uintptr_t)crtcs;
    if (ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res) != 0) return 0;
    for (uint32_t i = 0; i < count && i < res.count_crtcs; ++i) {
        struct drm_mode_crtc crtc;
        memset(&crtc, 0, sizeof crtc);
        crtc.crtc_id = crtcs[i];
        if (ioctl(fd, DRM_IOCTL_MODE_GETCRTC, &crtc) == 0 && crtc.mode_valid && crtc.fb_id != 0) return crtc.fb_id;
    }
    return 0;
}

static int buttons(void) {
    int fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail("/dev/dri/card0");
    struct drm_mode_fb_cmd fb;
    memset(&fb, 0, sizeof fb);
    fb.fb_id = scanout_fb(fd);
    if (fb.fb_id == 0) {
        fprintf(stderr, "drm_probe: no CRTC shows a framebuffer\n");
        return 1;
    }
    if (ioctl(fd, DRM_IOCTL_MODE_GETFB, &fb) != 0) return fail("GETFB");
    if (fb.handle == 0 || fb.bpp != 32) {
        fprintf(stderr, "drm_probe: framebuffer %u: handle %u, %u bits per pixel\n", fb.fb_id, fb.handle, fb.bpp);
        return 1;
    }
    struct drm_mode_map_dumb map;
    memset(&map, 0, sizeof map);
    map.handle = fb.handle;
    if (ioctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map) != 0) return fail("MAP_DUMB");
    const size_t size = (size_t)fb.pitch * fb.height;
    void* bytes = mmap(NULL, size, PROT_READ, MAP_SHARED, fd, (off_t)map.offset);
    if (bytes == MAP_FAILED) return fail("mmap");
    struct Scanout scanout = {(const uint8_t*)bytes, fb.pitch};
    if (!print_face_buttons(&scanout, drm_pixel, (int)fb.width, (int)fb.height)) {
        fprintf(stderr, "drm_probe: no button in framebuffer %u (%ux%u, pitch %u, depth %u; 0x%06lX at the centre)\n",
                fb.fb_id, fb.width, fb.height, fb.pitch, fb.depth,
                drm_pixel(&scanout, (int)fb.width / 2, (int)fb.height / 2));
    }
    munmap(bytes, size);
    close(fd);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "buttons") == 0) return buttons();
    fprintf(stderr, "usage: drm_probe buttons\n");
    return 2;
}
