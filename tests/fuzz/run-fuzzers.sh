#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for a while.
#
#   tests/fuzz/run-fuzzers.sh [--seconds N] [--runs N] [--jobs N] [--keep-corpus DIR] [TARGET...]
#
# Each target starts from its saved corpus (tests/fuzz/corpus/TARGET) in a
# temporary working copy. A crash is copied into tests/fuzz/regressions/TARGET,
# where the native test build replays it from then on, and the run fails.
# Prints, per target, the executions, the time and the corpus size.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh

seconds=60
runs=-1
keep=
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a value}; shift 2 ;;
    --runs) runs=${2:?--runs needs a value}; shift 2 ;;
    --keep-corpus) keep=${2:?--keep-corpus needs a directory}; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run-fuzzers: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
case $seconds in ''|*[!0-9]*) echo "run-fuzzers: --seconds takes a whole number" >&2; exit 2 ;; esac
[ ${#targets[@]} -gt 0 ] || targets=(receive_feature read_touch_point handshake solve vc_config hid_descriptor
  records ctl_options kelcalib_options xorg_snippet doctor_scan)

build_folder_check fuzz
build_fuzzers() { cmake --preset fuzz && cmake --build --preset fuzz --target $(printf '%s_fuzz ' "${targets[@]}"); }
build_with_progress "fuzz targets" build_fuzzers

work=$(mktemp -d /tmp/kelcalib-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
printf '%-18s %12s %8s %8s %s\n' target executions seconds corpus result
for t in "${targets[@]}"; do
  corpus=$work/$t
  mkdir -p "$corpus" "$work/artifacts-$t"
  cp tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  start=$SECONDS
  set +e
  "build/fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -runs="$runs" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts-$t/" -timeout=10 -rss_limit_mb=2048 \
    "$corpus" >"$work/$t.log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED (exit $rc)"
    status=1
    mkdir -p tests/fuzz/regressions/"$t"
    for f in "$work/artifacts-$t"/*; do
      [ -e "$f" ] || continue
      cp "$f" tests/fuzz/regressions/"$t"/
      result="$result, kept $(basename "$f") in tests/fuzz/regressions/$t"
    done
    grep -E 'ERROR|SUMMARY' "$work/$t.log" | head -5 >&2 || true
  fi
  printf '%-18s %12s %8s %8s %s\n' "$t" "${execs:-?}" "$((SECONDS - start))" "$(ls "$corpus" | wc -l)" "$result"
  if [ -n "$keep" ]; then mkdir -p "$keep/$t" && cp "$corpus"/* "$keep/$t"/; fi
done
exit $status
