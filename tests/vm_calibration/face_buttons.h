/* The question's buttons as a person finds them on the screen, for the
 * calibration VM's probes (x_probe on X11, drm_probe on a DRM display): the
 * first row holding runs of the buttons' face colour over 40 pixels wide is
 * their top edge; each run's height is its column's extent. Prints the
 * centre "X Y" of each button on that row, left to right. */
#ifndef KELCALIB_TESTS_VM_CALIBRATION_FACE_BUTTONS_H
#define KELCALIB_TESTS_VM_CALIBRATION_FACE_BUTTONS_H

#include <stdio.h>

/* The buttons' face colour (app/message_box_linux.cpp), as 0xRRGGBB. */
#define FACE_RGB 0xE1E1E1UL

/* The 0xRRGGBB colour of pixel (x, y) of what `screen` shows. */
typedef unsigned long (*PixelAt)(void* screen, int x, int y);

static int print_face_buttons(void* screen, PixelAt pixel, int w, int h) {
    int found = 0;
    for (int y = 0; y < h && !found; ++y) {
        for (int x = 0; x < w;) {
            int start = x;
            while (x < w && pixel(screen, x, y) == FACE_RGB) ++x;
            if (x - start > 40) {
                int bottom = y;
                while (bottom + 1 < h && pixel(screen, start, bottom + 1) == FACE_RGB) ++bottom;
                printf("%d %d\n", (start + x - 1) / 2, (y + bottom) / 2);
                found = 1;
            }
            if (x == start) ++x;
        }
    }
    return found;
}

#endif /* KELCALIB_TESTS_VM_CALIBRATION_FACE_BUTTONS_H */
