# Several throwaway Wine sessions side by side for the test suites. Each
# "desktop" is an Xvfb and a Wine prefix of its own, booted as
# wine_session_start boots one, with the virtual controller installed and a
# persistent server (wine_session_persist). CTest gives each Windows test one
# desktop (the resource "desktops", one slot each) and tests/harness/with-desktop
# runs the test in it, so the tests, which each need a screen, a pointer and a
# keyboard of their own, run at the same time. Sourced after wine-session.sh.
#
#   wine_desktops_boot N
#       starts N Xvfbs and boots N prefixes, in the background
#   wine_desktops_ready DESKTOP-HOLDER.EXE DLL-DIR EXE-NAME...
#       waits for the boots, installs the virtual controller for the named
#       programs (install_virtual_controller) and makes each session
#       persistent; then exports KELCALIB_DESKTOPS_FILE (one line per desktop:
#       id, DISPLAY, WINEPREFIX), KELCALIB_DESKTOPS_RESOURCES (CTest's resource
#       file, at that path when it was set before, removed again at the stop) and, for whatever runs outside CTest's allocation, DISPLAY
#       and WINEPREFIX of desktop 1
#   wine_desktops_stop
#       ends and removes them all (registered as an EXIT trap)

_wine_desktop_displays=()
_wine_desktop_prefixes=()
_wine_desktop_xvfbs=()
_wine_desktop_boots=()
KELCALIB_DESKTOPS_DIR=

wine_desktops_boot() {
  local count=${1:?wine_desktops_boot needs a number of desktops} k prefix
  trap wine_desktops_stop EXIT
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  KELCALIB_DESKTOPS_DIR=$(mktemp -d /tmp/kelcalib-desktops.XXXXXX)
  for k in $(seq 1 "$count"); do
    _wine_session_xvfb || return 1
    prefix=$KELCALIB_DESKTOPS_DIR/prefix-$k
    _wine_desktop_displays+=("$_wine_xvfb_display")
    _wine_desktop_xvfbs+=("$_wine_xvfb_pid")
    _wine_desktop_prefixes+=("$prefix")
    (
      export DISPLAY=$_wine_xvfb_display WINEPREFIX=$prefix
      _wine_session_boot && wineserver -w
    ) &
    _wine_desktop_boots+=($!)
  done
}

wine_desktops_ready() {
  local holder=${1:?} dlls=${2:?} k pid failed=0 readies=()
  shift 2
  for pid in "${_wine_desktop_boots[@]}"; do
    wait "$pid" || failed=1
  done
  _wine_desktop_boots=()
  [ "$failed" -eq 0 ] || { echo "wine_desktops_ready: a Wine prefix did not boot" >&2; return 1; }
  for k in "${!_wine_desktop_prefixes[@]}"; do
    (
      export DISPLAY=${_wine_desktop_displays[$k]} WINEPREFIX=${_wine_desktop_prefixes[$k]}
      install_virtual_controller "$dlls" "$@" && wine_session_persist "$holder"
    ) &
    readies+=($!)
  done
  for pid in "${readies[@]}"; do
    wait "$pid" || failed=1
  done
  [ "$failed" -eq 0 ] || return 1
  export KELCALIB_DESKTOPS_FILE=$KELCALIB_DESKTOPS_DIR/desktops
  export KELCALIB_DESKTOPS_RESOURCES=${KELCALIB_DESKTOPS_RESOURCES:-$KELCALIB_DESKTOPS_DIR/resources.json}
  local slots=()
  : >"$KELCALIB_DESKTOPS_FILE"
  for k in "${!_wine_desktop_prefixes[@]}"; do
    echo "$((k + 1)) ${_wine_desktop_displays[$k]} ${_wine_desktop_prefixes[$k]}" >>"$KELCALIB_DESKTOPS_FILE"
    slots+=("{\"id\": \"$((k + 1))\", \"slots\": 1}")
  done
  local IFS=,
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"desktops": [%s]}]}\n' "${slots[*]}" \
    >"$KELCALIB_DESKTOPS_RESOURCES"
  export DISPLAY=${_wine_desktop_displays[0]} WINEPREFIX=${_wine_desktop_prefixes[0]}
}

wine_desktops_stop() {
  local k pid
  for pid in "${_wine_desktop_boots[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  _wine_desktop_boots=()
  for k in "${!_wine_desktop_prefixes[@]}"; do
    if [ -d "${_wine_desktop_prefixes[$k]}" ]; then
      WINEPREFIX=${_wine_desktop_prefixes[$k]} wineserver -k >/dev/null 2>&1 || true
      WINEPREFIX=${_wine_desktop_prefixes[$k]} wineserver -w >/dev/null 2>&1 || true
      [ -n "${KELCALIB_KEEP_PREFIX:-}" ] || _wine_server_dir_remove "${_wine_desktop_prefixes[$k]}"
    fi
    kill "${_wine_desktop_xvfbs[$k]}" >/dev/null 2>&1 || true
    wait "${_wine_desktop_xvfbs[$k]}" 2>/dev/null || true
  done
  _wine_desktop_prefixes=()
  _wine_desktop_xvfbs=()
  _wine_desktop_displays=()
  [ -z "${KELCALIB_DESKTOPS_RESOURCES:-}" ] || rm -f "$KELCALIB_DESKTOPS_RESOURCES"
  if [ -n "$KELCALIB_DESKTOPS_DIR" ] && [ -z "${KELCALIB_KEEP_PREFIX:-}" ]; then
    rm -rf "$KELCALIB_DESKTOPS_DIR"
  fi
  KELCALIB_DESKTOPS_DIR=
}
