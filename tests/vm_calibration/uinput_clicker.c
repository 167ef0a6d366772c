/* A uinput mouse with an Enter key for the calibration VM: reads lines
 * "click" or "enter" from the named FIFO and emits a left click or Enter. */
#include <fcntl.h>
#include <linux/uinput.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void emit(int fd, int type, int code, int value) {
    struct input_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.type = type;
    ev.code = code;
    ev.value = value;
    if (write(fd, &ev, sizeof(ev)) != (ssize_t)sizeof(ev)) perror("uinput write");
}
int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: uinput_clicker FIFO\n");
        return 2;
    }
    int fd = open("/dev/uinput", O_WRONLY | O_NONBLOCK);
    if (fd < 0) { perror("uinput"); return 1; }
    ioctl(fd, UI_SET_EVBIT, EV_KEY); ioctl(fd, UI_SET_KEYBIT, BTN_LEFT); ioctl(fd, UI_SET_KEYBIT, KEY_ENTER);
    ioctl(fd, UI_SET_EVBIT, EV_REL); ioctl(fd, UI_SET_RELBIT, REL_X); ioctl(fd, UI_SET_RELBIT, REL_Y);
    struct uinput_setup us; memset(&us, 0, sizeof(us));
    us.id.bustype = BUS_USB; us.id.vendor = 0x1234; us.id.product = 0x5678;
    strcpy(us.name, "vm clicker");
    ioctl(fd, UI_DEV_SETUP, &us); ioctl(fd, UI_DEV_CREATE);
    printf("uinput_clicker ready\n"); fflush(stdout);
    char line[64];
    FILE* in = fopen(argv[1], "r");
    if (in == NULL) { perror(argv[1]); return 1; }
    for (;;) {
        if (!fgets(line, sizeof line, in)) { clearerr(in); usleep(10000); continue; }
        if (strncmp(line, "click", 5) == 0) {
            emit(fd, EV_REL, REL_X, 1); emit(fd, EV_SYN, SYN_REPORT, 0);
            emit(fd, EV_KEY, BTN_LEFT, 1); emit(fd, EV_SYN, SYN_REPORT, 0); usleep(50000);
            emit(fd, EV_KEY, BTN_LEFT, 0); emit(fd, EV_SYN, SYN_REPORT, 0);
        } else if (strncmp(line, "enter", 5) == 0) {
            emit(fd, EV_KEY, KEY_ENTER, 1); emit(fd, EV_SYN, SYN_REPORT, 0); usleep(50000);
            emit(fd, EV_KEY, KEY_ENTER, 0); emit(fd, EV_SYN, SYN_REPORT, 0);
        }
        printf("did %s", line); fflush(stdout);
    }
}
