#!/usr/bin/env bash
# Figures of whole calibrations: kelcalib.exe under Wine in Xvfb against a
# virtual controller that answers at once, driven by xdotool.
#
#   bench/calibration-figures.sh [RUNS]     (default 5)
#
# Prints medians over the runs of:
#  - start to first target, fourth touch to question, Yes to exit: measured
#    time, the waits the protocol itself mandates in that stretch (its floor),
#    the time above the floor and the ratio to it;
#  - device transfers per mouse move, wheel event and button press (all should
#    be 0) and per accepted release (should be 1 read);
#  - the release exe's size and imports.
# Times come from polling the controller's log every 10 ms, so each carries
# up to about 10 ms of polling delay. A benchmark, not a test: nothing here
# asserts a time.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
. tests/harness/wine-session.sh

case ${1:-} in
  -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
runs=${1:-5}
case $runs in ''|*[!0-9]*|0) echo "calibration-figures: RUNS is a whole number above 0" >&2; exit 2 ;; esac

ensure_packages "${PACKAGES_BUILD[@]}" "${PACKAGES_WINDOWS[@]}" "${PACKAGES_X_DEMO[@]}" \
  "${PACKAGES_RELEASE_WIN64[@]}"
say "building ($(elapsed))"
build_folder_check demo release-win64
build_figures() {
  cmake --preset demo && cmake --build --preset demo --target kelcalib kelcalib_vc_hid kelcalib_vc_setupapi &&
    cmake --preset release-win64 && cmake --build --preset release-win64 --target kelcalib
}
build_with_progress "figures" build_figures

say "booting a throwaway Wine prefix ($(elapsed))"
export KELCALIB_SCREEN_SIZE=1024x768
wine_session_start
install_virtual_controller build/demo/virtual-controller-dlls kelcalib.exe
work=$(mktemp -d /tmp/kelcalib-figures.XXXXXX)
trap 'wine_session_stop; rm -rf "$work"' EXIT
winpath() { echo "Z:${1//\//\\}"; }
log=$work/controller.log
cat >"$work/controller.conf" <<CONF
log-file $(winpath "$log")
controller
panel straight
CONF
export KELCALIB_VC_CONFIG
KELCALIB_VC_CONFIG=$(winpath "$work/controller.conf")
exe=build/demo/app/kelcalib.exe

now_ms() { echo $(($(date +%s%N) / 1000000)); }
count() { grep -c -- "$1" "$log" 2>/dev/null || true; }
transfers() { grep -cE ' (SET|GET) ' "$log" 2>/dev/null || true; }
wait_count() {  # wait_count PATTERN N: until PATTERN occurs N times (30 s at most)
  local i
  for i in $(seq 1 3000); do
    [ "$(count "$1")" -ge "$2" ] && return 0
    sleep 0.01
  done
  echo "calibration-figures: timed out waiting for '$1'" >&2
  return 1
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : int((v[NR/2]+v[NR/2+1])/2)}'; }

W=1024; H=768
xs=($((W / 5)) $((4 * W / 5)) $((4 * W / 5)) $((W / 5)))
ys=($((H / 5)) $((4 * H / 5)) $((H / 5)) $((4 * H / 5)))
: >"$work/start"; : >"$work/solve"; : >"$work/exit"
: >"$work/move"; : >"$work/wheel"; : >"$work/press"; : >"$work/release"
wineserver -p >/dev/null 2>&1 || true  # keep the server up between runs
for run in $(seq 1 "$runs"); do
  : >"$log"
  t0=$(now_ms)
  wine "$exe" >/dev/null 2>&1 &
  program=$!
  wait_count ' EVENT Q cue' 1
  echo $(($(now_ms) - t0)) >>"$work/start"
  for i in 0 1 2 3; do
    wait_count ' EVENT Q cue' $((i + 1))
    sleep 0.35
    xdotool mousemove $((xs[i] - 40)) $((ys[i] - 40))
    sleep 0.1
    before=$(transfers)
    for step in $(seq 1 20); do xdotool mousemove $((xs[i] - 40 + 2 * step)) $((ys[i] - 40 + 2 * step)); done
    sleep 0.1
    echo $(( ($(transfers) - before) * 1000 / 20 )) >>"$work/move"
    before=$(transfers)
    xdotool click 4 click 5
    sleep 0.1
    echo $(( ($(transfers) - before) * 1000 / 2 )) >>"$work/wheel"
    before=$(transfers)
    xdotool mousedown 1
    sleep 0.1
    echo $(( ($(transfers) - before) * 1000 )) >>"$work/press"
    before=$(transfers)
    xdotool mouseup 1
    t4=$(now_ms)
    wait_count ' EVENT Q cue' $((i + 2))
    # The accepted release's reads, up to the cue it leads to.
    reads=$(awk -v from="$before" '/ (SET|GET) /{n++; if (n > from && / GET /) r++} / EVENT Q cue/{if (n > from) {print r + 0; exit}}' "$log")
    echo $((reads * 1000)) >>"$work/release"
  done
  xdotool search --sync --onlyvisible --name '^Checking calibration results$' >/dev/null
  echo $(($(now_ms) - t4)) >>"$work/solve"
  sleep 0.2
  t6=$(now_ms)
  xdotool key Return
  wait "$program" || true
  echo $(($(now_ms) - t6)) >>"$work/exit"
  say "run $run of $runs done ($(elapsed))"
done

report() {  # report LABEL FILE FLOOR
  local m
  m=$(median <"$2")
  printf '  %-34s %6d ms  floor %4d ms  above %5d ms  ratio %s\n' "$1" "$m" "$3" $((m - $3)) \
    "$(awk -v a="$m" -v b="$3" 'BEGIN {printf "%.2f", a / b}')"
}
per() { awk '{s += $1} END {printf "%.2f", s / NR / 1000}' "$1"; }
echo
echo "Medians over $runs calibrations (1024x768, controller answering at once):"
report "start to first target cue" "$work/start" 400
report "fourth touch to question" "$work/solve" 450
report "Yes to exit" "$work/exit" 400
echo "  (floors: identity records 2 x 200 ms; after the fourth touch the cue's 50 ms"
echo "   and the records 2 x 200 ms; the commit 2 x 200 ms)"
echo
echo "Device transfers per event, averaged over all touches:"
echo "  mouse move $(per "$work/move"), wheel $(per "$work/wheel"), button press $(per "$work/press"), accepted release $(per "$work/release") (reads)"
rel=build/release-win64/app/kelcalib.exe
echo
echo "Release exe: $(stat -c %s "$rel") bytes; imports: $(x86_64-w64-mingw32-objdump -p "$rel" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
