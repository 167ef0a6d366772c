/* What a person sees of an X display, for the calibration VM:
 *
 *   x_probe buttons          the centre "X Y" of each large button the
 *                            program's question shows, left to right
 *   x_probe land FILE W H X Y...
 *                            touches each point (pixels of a W x H screen)
 *                            by writing the touch file FILE, waits for the
 *                            pointer to move there, lifts, and prints
 *                            "LAND X Y PX PY" with the pointer's position
 *
 * Only reads the display (XGetImage, XQueryPointer); the touches go through
 * the virtual controller's touch file, never into X. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "face_buttons.h"

static void sleep_ms(long ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

static unsigned long x_pixel(void* image, int x, int y) {
    return XGetPixel((XImage*)image, x, y) & 0xFFFFFF;
}

static int buttons(Display* d) {
    Window root = DefaultRootWindow(d);
    int w = DisplayWidth(d, 0), h = DisplayHeight(d, 0);
    XImage* image = XGetImage(d, root, 0, 0, (unsigned)w, (unsigned)h, AllPlanes, ZPixmap);
    if (image == NULL) return 1;
    print_face_buttons(image, x_pixel, w, h);
    XDestroyImage(image);
    return 0;
}

static void pointer(Display* d, int* x, int* y) {
    Window r, c;
    int wx, wy;
    unsigned mask;
    XQueryPointer(d, DefaultRootWindow(d), &r, &c, x, y, &wx, &wy, &mask);
}

static void write_touch(const char* file, const char* text) {
    char next[512];
    snprintf(next, sizeof next, "%s.next", file);
    FILE* f = fopen(next, "w");
    if (f == NULL) return;
    fputs(text, f);
    fclose(f);
    rename(next, file);
}

static int land(Display* d, char** argv, int argc) {
    const char* file = argv[0];
    int w = atoi(argv[1]), h = atoi(argv[2]);
    for (int i = 3; i + 1 < argc; i += 2) {
        int x = atoi(argv[i]), y = atoi(argv[i + 1]);
        int px0, py0, px, py;
        char text[64];
        pointer(d, &px0, &py0);
        snprintf(text, sizeof text, "%d %d %d %d\n", x, y, w, h);
        write_touch(file, text);
        /* Moved, then still for 60 ms: where the touch put it. */
        int waited = 0, still = 0, lx = px0, ly = py0;
        while (waited < 2000 && still < 60) {
            sleep_ms(10);
            waited += 10;
            pointer(d, &px, &py);
            if ((px != px0 || py != py0) && px == lx && py == ly) still += 10; else still = 0;
            lx = px;
            ly = py;
        }
        write_touch(file, "none\n");
        printf("LAND %d %d %d %d\n", x, y, px, py);
        fflush(stdout);
        sleep_ms(60);
    }
    return 0;
}

int main(int argc, char** argv) {
    Display* d = XOpenDisplay(NULL);
    if (d == NULL) {
        fprintf(stderr, "x_probe: cannot open the display\n");
        return 1;
    }
    int status = 2;
    if (argc == 2 && argv[1][0] == 'b') status = buttons(d);
    else if (argc >= 7 && argv[1][0] == 'l') status = land(d, argv + 2, argc - 2);
    else fprintf(stderr, "usage: x_probe buttons | x_probe land FILE W H X Y...\n");
    XCloseDisplay(d);
    return status;
}
