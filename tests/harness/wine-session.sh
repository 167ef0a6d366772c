# A throwaway Wine session for tests: one Xvfb and one Wine prefix, both
# removed again by wine_session_stop (registered as an EXIT trap by
# wine_session_start). Sourced by the project's scripts.
#
# After wine_session_start: DISPLAY, WINEPREFIX, WINEARCH, WINEDEBUG and
# WINEDLLOVERRIDES are exported, KELCALIB_XVFB_PID names the Xvfb process.
# A session that runs many programs one after another (the test suites) then
# calls wine_session_persist.

KELCALIB_SCREEN_SIZE=${KELCALIB_SCREEN_SIZE:-1024x768}

_wine_session_free_display() {
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}

# _wine_server_dir_remove PREFIX: removes the socket folder the (stopped)
# wineserver of PREFIX left in the temporary folder, server-<dev>-<inode> of
# the prefix inside a wine-XXXXXX folder, and that folder once it is empty.
_wine_server_dir_remove() {
  local id dir
  id=$(stat -c '%d %i' "$1" 2>/dev/null) || return 0
  # shellcheck disable=SC2086
  id=$(printf 'server-%x-%x' $id)
  for dir in "${TMPDIR:-/tmp}"/wine-*/"$id" "${TMPDIR:-/tmp}"/.wine-"$(id -u)"/"$id"; do
    [ -d "$dir" ] || continue
    rm -rf "$dir"
    rmdir "$(dirname "$dir")" 2>/dev/null || true
  done
}

wine_session_stop() {
  if [ -n "${KELCALIB_BOOT_PID:-}" ]; then
    wait "$KELCALIB_BOOT_PID" 2>/dev/null || true
    KELCALIB_BOOT_PID=
  fi
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX}" ] && [ -n "${KELCALIB_OWN_PREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    if [ -n "${KELCALIB_DESKTOP_HOLDER_PID:-}" ]; then
      wait "${KELCALIB_DESKTOP_HOLDER_PID}" 2>/dev/null || true
      KELCALIB_DESKTOP_HOLDER_PID=
    fi
    if [ -z "${KELCALIB_KEEP_PREFIX:-}" ]; then
      _wine_server_dir_remove "${WINEPREFIX}"
      rm -rf "${WINEPREFIX}"
    fi
  fi
  if [ -n "${KELCALIB_XVFB_PID:-}" ]; then
    kill "${KELCALIB_XVFB_PID}" >/dev/null 2>&1 || true
    wait "${KELCALIB_XVFB_PID}" 2>/dev/null || true
    KELCALIB_XVFB_PID=
  fi
}

# _wine_session_xvfb: starts an Xvfb on a free display number; sets
# _wine_xvfb_display (":N") and _wine_xvfb_pid.
_wine_session_xvfb() {
  local n i
  n=$(_wine_session_free_display) || { echo "no free X display number" >&2; return 1; }
  Xvfb ":$n" -screen 0 "${KELCALIB_SCREEN_SIZE}x24" -noreset -nolisten tcp >/dev/null 2>&1 &
  _wine_xvfb_pid=$!
  _wine_xvfb_display=":$n"
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.05
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

# _wine_session_boot: boots $WINEPREFIX (in $DISPLAY) unless it is booted.
_wine_session_boot() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    # Without a window manager, a managed full-screen window waits for one.
    local reg="$WINEPREFIX/kelcalib-x11.reg"
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n' >"$reg"
    wine regedit /S "$reg" >/dev/null 2>&1
  fi
}

# wine_session_start [prefix-dir]
# Without an argument the prefix is a new temporary directory that is deleted
# at the end; with one, that prefix is used (and booted if it is new). With
# KELCALIB_BOOT_IN_BACKGROUND=1 the boot runs in the background (its process
# KELCALIB_BOOT_PID) until wine_session_wait_boot.
wine_session_start() {
  local prefix=${1:-}
  trap wine_session_stop EXIT
  if [ -z "${DISPLAY:-}" ] || [ -n "${KELCALIB_OWN_XVFB:-}" ]; then
    _wine_session_xvfb || return 1
    KELCALIB_XVFB_PID=$_wine_xvfb_pid
    export DISPLAY=$_wine_xvfb_display
  fi
  if [ -z "$prefix" ]; then
    prefix=$(mktemp -d /tmp/kelcalib-wine.XXXXXX)
  fi
  export WINEPREFIX=$prefix
  KELCALIB_OWN_PREFIX=1
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -n "${KELCALIB_BOOT_IN_BACKGROUND:-}" ]; then
    _wine_session_boot &
    KELCALIB_BOOT_PID=$!
  else
    _wine_session_boot
  fi
}

# wine_session_wait_boot: waits for a boot wine_session_start left running.
wine_session_wait_boot() {
  [ -n "${KELCALIB_BOOT_PID:-}" ] || return 0
  local pid=$KELCALIB_BOOT_PID
  KELCALIB_BOOT_PID=
  wait "$pid" && [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "the Wine prefix $WINEPREFIX did not boot" >&2; return 1; }
}

# wine_session_persist <desktop-holder.exe>
# One wineserver for the rest of the session (wine_session_stop kills it),
# with Wine's own processes started here, once, writing to the prefix's
# kelcalib-session.log.
#
# Without it, every program that finds no server running starts one, and with
# it wineboot, services.exe and its services (winedevice, plugplay, svchost,
# rpcss), and for a GUI program the desktop process (explorer.exe /desktop).
# The server and each of them inherit the program's stderr. When the program exits the
# server shuts them down again, which takes seconds (more under load), and
# whoever reads the program's output (ctest, a pipe) only sees its end once
# the last of them has gone. A persistent server alone keeps the services,
# but not the desktop: the server closes it one second after the last program
# using it exits, so each GUI program would still start a desktop process of
# its own. desktop-holder.exe stays on the desktop for the whole session.
wine_session_persist() {
  local holder=${1:-}
  # A server started by an earlier command of the session exits by itself
  # once its last program has gone (and writes the registry out); wait for
  # that, then start the one that stays.
  wineserver -w >/dev/null 2>&1 || true
  if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine_session_persist: no booted Wine prefix (call wine_session_start first)" >&2
    return 1
  fi
  if [ ! -f "$holder" ]; then
    echo "wine_session_persist: no desktop holder at '$holder'" >&2
    return 1
  fi
  local log="$WINEPREFIX/kelcalib-session.log" ready="$WINEPREFIX/kelcalib-desktop-ready"
  rm -f "$ready"
  wineserver -p >>"$log" 2>&1
  wine "$holder" "Z:${ready//\//\\}" >>"$log" 2>&1 </dev/null &
  KELCALIB_DESKTOP_HOLDER_PID=$!
  local i
  for i in $(seq 1 600); do
    [ -e "$ready" ] && return 0
    kill -0 "$KELCALIB_DESKTOP_HOLDER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine_session_persist: the desktop holder did not start (see $log)" >&2
  return 1
}

# install_virtual_controller <dir with hid.dll and setupapi.dll> <exe name>...
# Copies the virtual controller's replacement DLLs into the prefix's
# C:\windows\system32 (the program loads them from the system directory only)
# and makes exactly the named programs prefer them, through the per-program
# HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides values hid and setupapi =
# "native,builtin". Every other process, Wine's services included, keeps
# Wine's own DLLs: never put hid or setupapi in a global WINEDLLOVERRIDES.
install_virtual_controller() {
  local dir=${1:-}
  shift || true
  if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    echo "install_virtual_controller: no booted Wine prefix (call wine_session_start first)" >&2
    return 1
  fi
  if [ ! -f "$dir/hid.dll" ] || [ ! -f "$dir/setupapi.dll" ]; then
    echo "install_virtual_controller: no hid.dll and setupapi.dll in '$dir'" >&2
    return 1
  fi
  if [ $# -eq 0 ]; then
    echo "install_virtual_controller: name at least one program (e.g. kelcalib.exe)" >&2
    return 1
  fi
  cp "$dir/hid.dll" "$dir/setupapi.dll" "$WINEPREFIX/drive_c/windows/system32/"
  local reg="$WINEPREFIX/kelcalib-virtual-controller.reg" exe
  printf 'REGEDIT4\n' >"$reg"
  for exe in "$@"; do
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\n' "$exe" >>"$reg"
    printf '"hid"="native,builtin"\n"setupapi"="native,builtin"\n' >>"$reg"
  done
  wine regedit /S "$reg" >/dev/null 2>&1
}
