"""X servers for the Linux end-to-end tests, started and stopped by process
id: a plain Xvfb of one screen, Xorg with the dummy driver presenting two
monitors side by side (what SDL needs to see two displays), or Xephyr
(inside an Xvfb) with its output turned a quarter (what neither of the others
can do); and a Wayland compositor (weston) beside one."""
import os
import shutil
import subprocess
import tempfile
import time

XORG_CONF = """Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual %(width)d %(height)d
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
"""


class XServer:
    """One X server; `display` is ":N". Stop it with stop()."""

    def __init__(self, proc, display, workdir, host=None):
        self.proc = proc
        self.display = display
        self.dir = workdir
        self.host = host  # the X server this one runs in, stopped after it

    def env(self, extra=None):
        env = dict(os.environ, DISPLAY=self.display, SDL_VIDEODRIVER="x11", XDG_RUNTIME_DIR=self.dir)
        env.update(extra or {})
        return env

    def stop(self):
        stop_process(self.proc)
        if self.host is not None:
            self.host.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def _display_from_fd(read_end, proc, what):
    data = b""
    end = time.time() + 20
    while time.time() < end and not data.endswith(b"\n"):
        if proc.poll() is not None:
            break
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        data += chunk
    os.close(read_end)
    if not data.strip().isdigit():
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        raise RuntimeError("%s did not start" % what)
    return ":" + data.strip().decode()


def start_xvfb(width=1024, height=768, more_screens=()):
    """An Xvfb on a free display number, 24-bit; `more_screens` adds X screens
    1, 2... of those sizes."""
    workdir = tempfile.mkdtemp(prefix="kelcalib-x.")
    os.chmod(workdir, 0o700)
    read_end, write_end = os.pipe()
    screens = []
    for number, size in enumerate([(width, height)] + list(more_screens)):
        screens += ["-screen", str(number), "%dx%dx24" % size]
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end)] + screens + ["-nolisten", "tcp", "-noreset"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        display = _display_from_fd(read_end, proc, "Xvfb")
    except RuntimeError:
        shutil.rmtree(workdir, ignore_errors=True)
        raise
    return XServer(proc, display, workdir)


def start_two_monitors(left=(800, 600), right=(1024, 768), configdir=None):
    """Xorg with the dummy driver: monitor 0 of size `left` at 0,0 and monitor
    1 of size `right` beside it, reading also the configuration snippets in
    `configdir`. Needs root. Raises RuntimeError with the reason (and the
    server's log) when the server or xrandr fails."""
    workdir = tempfile.mkdtemp(prefix="kelcalib-xorg.")
    os.chmod(workdir, 0o700)
    conf = os.path.join(workdir, "xorg.conf")
    with open(conf, "w") as f:
        f.write(XORG_CONF % {"width": left[0] + right[0], "height": max(left[1], right[1])})
    read_end, write_end = os.pipe()
    log = os.path.join(workdir, "Xorg.log")
    more = ["-configdir", configdir] if configdir else []
    proc = subprocess.Popen(["Xorg", "-displayfd", str(write_end), "-config", conf, "-logfile", log]
                            + more + ["-noreset", "-nolisten", "tcp", "-keeptty", "-novtswitch"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    server = None
    try:
        try:
            display = _display_from_fd(read_end, proc, "Xorg")
        except RuntimeError:
            with open(log, errors="replace") as f:
                raise RuntimeError("Xorg did not start:\n" + f.read()[-3000:])
        server = XServer(proc, display, workdir)
        env = server.env()
        mode = "%dx%d" % right
        run = lambda *args: subprocess.run(["xrandr"] + list(args), env=env, capture_output=True, text=True)
        run("--addmode", "DUMMY1", mode)
        done = run("--output", "DUMMY0", "--mode", "%dx%d" % left, "--pos", "0x0",
                   "--output", "DUMMY1", "--mode", mode, "--pos", "%dx0" % left[0])
        if done.returncode != 0:
            raise RuntimeError("xrandr could not set two monitors: " + done.stderr.strip())
        listed = run("--listactivemonitors").stdout
        if "Monitors: 2" not in listed:
            raise RuntimeError("xrandr shows no two monitors:\n" + listed)
        return server
    except RuntimeError:
        if server is not None:
            server.stop()
        else:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            shutil.rmtree(workdir, ignore_errors=True)
        raise


def start_rotated(width=1024, height=768):
    """Xephyr of `width` x `height` in an Xvfb of its own, its output turned
    a quarter counter-clockwise (xrandr -o left: `height` x `width`). Raises
    RuntimeError with the reason when a server or xrandr fails."""
    host = start_xvfb(1280, 1280)
    workdir = tempfile.mkdtemp(prefix="kelcalib-xephyr.")
    os.chmod(workdir, 0o700)
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xephyr", "-displayfd", str(write_end), "-screen", "%dx%d" % (width, height),
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                            env=dict(os.environ, DISPLAY=host.display),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        display = _display_from_fd(read_end, proc, "Xephyr")
    except RuntimeError:
        host.stop()
        shutil.rmtree(workdir, ignore_errors=True)
        raise
    server = XServer(proc, display, workdir, host)
    done = subprocess.run(["xrandr", "-o", "left"], env=server.env(), capture_output=True, text=True)
    current = subprocess.run(["xrandr"], env=server.env(), capture_output=True, text=True).stdout
    if done.returncode != 0 or "current %d x %d" % (height, width) not in current:
        server.stop()
        raise RuntimeError("xrandr could not turn Xephyr's output: %s%s" % (done.stderr, current))
    return server


def start_weston(server, backend):
    """weston on the X server's runtime directory, socket "kelcalib-wl", with
    the kiosk shell (clients full screen). backend "x11": its output is a
    window of the X server covering the screen, its seat the X server's
    pointer and keyboard; "headless": no output window and no seat. Returns
    the process (stop it with stop_process) once its socket is there."""
    socket = os.path.join(server.dir, "kelcalib-wl")
    args = ["weston", "--backend=%s-backend.so" % backend, "--socket=kelcalib-wl", "--idle-time=0",
            "--shell=kiosk-shell.so", "--width=1024", "--height=768"]
    if backend == "x11":
        args.append("--use-pixman")
    log = open(os.path.join(server.dir, "weston.log"), "w")
    proc = subprocess.Popen(args, env=server.env(), stdout=log, stderr=subprocess.STDOUT)
    end = time.time() + 20
    while time.time() < end and proc.poll() is None and not os.path.exists(socket):
        time.sleep(0.05)
    time.sleep(0.3)  # the socket comes before the outputs and the seat
    if proc.poll() is not None or not os.path.exists(socket):
        stop_process(proc)
        raise RuntimeError("weston (%s) did not start: see %s" % (backend, log.name))
    return proc


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
