# An automatic finger for kelcalib.exe running against the virtual controller
# in an X display: it touches each target when the program shows it, with a
# few pixels of human jitter, and answers the closing question. Sourced.
#
# Needs DISPLAY, and VC_LOG naming the virtual controller's log file (the
# program's progress is read from it: each target is cued once it is shown).

# Number of target cues the controller has seen so far.
finger_cues() {
  grep -c ' EVENT Q cue' "$VC_LOG" 2>/dev/null || true
}

# finger_wait_cues N SECONDS: waits until at least N cues were seen.
finger_wait_cues() {
  local want=$1 limit=$2 waited=0
  while [ "$(finger_cues)" -lt "$want" ]; do
    sleep 0.1
    waited=$((waited + 1))
    [ "$waited" -lt $((limit * 10)) ] || return 1
  done
}

# finger_screenshot FILE: the whole screen (ImageMagick's import).
finger_screenshot() {
  import -display "$DISPLAY" -window root "$1" 2>/dev/null || true
}

# finger_touch X Y: a tap at (X, Y) give or take up to 3 pixels.
finger_touch() {
  local x=$(($1 + RANDOM % 7 - 3)) y=$(($2 + RANDOM % 7 - 3))
  xdotool mousemove "$x" "$y" mousedown 1
  sleep 0.08
  xdotool mouseup 1
  echo "$x $y"
}

# finger_calibrate WIDTH HEIGHT SHOTS-DIR [ANSWER]: touches the four targets
# of a WIDTH x HEIGHT screen and answers the question (Return = Yes, or n).
finger_calibrate() {
  local w=$1 h=$2 shots=$3 answer=${4:-Return}
  local xs=($((w / 5)) $((4 * w / 5)) $((4 * w / 5)) $((w / 5)))
  local ys=($((h / 5)) $((4 * h / 5)) $((h / 5)) $((4 * h / 5)))
  local names=("upper left" "lower right" "upper right" "lower left")
  local base i at
  base=$(finger_cues)
  for i in 0 1 2 3; do
    finger_wait_cues $((base + i + 1)) 30 || { echo "target $i was never shown" >&2; return 1; }
    sleep 0.45  # the program takes a touch 300 ms after the last one at the earliest
    finger_screenshot "$shots/$((i + 1))-target-$i.png"
    at=$(finger_touch "${xs[$i]}" "${ys[$i]}")
    say "touched target $i (${names[$i]}) at ($at)"
  done
  finger_wait_cues $((base + 5)) 30 || { echo "the fourth touch was not taken" >&2; return 1; }
  if ! timeout 30 xdotool search --sync --onlyvisible --name '^Checking calibration results$' >/dev/null 2>&1; then
    echo "the question never appeared" >&2
    return 1
  fi
  sleep 0.3
  finger_screenshot "$shots/5-question.png"
  xdotool key "$answer"
  say "answered the question with $([ "$answer" = Return ] && echo Yes || echo No)"
}

# finger_calibrate_in_window WIDTH HEIGHT SHOTS-DIR: the same for the Linux
# program, which asks its question in its own window: once the records went
# out after the fourth touch, Return answers Yes.
finger_calibrate_in_window() {
  local w=$1 h=$2 shots=$3
  local xs=($((w / 5)) $((4 * w / 5)) $((4 * w / 5)) $((w / 5)))
  local ys=($((h / 5)) $((4 * h / 5)) $((h / 5)) $((4 * h / 5)))
  local i at waited=0
  for i in 0 1 2 3; do
    finger_wait_cues $((i + 1)) 30 || { echo "target $i was never shown" >&2; return 1; }
    sleep 0.45
    finger_screenshot "$shots/$((i + 1))-target-$i.png"
    at=$(finger_touch "${xs[$i]}" "${ys[$i]}")
    say "touched target $i at ($at)"
  done
  finger_wait_cues 5 30 || { echo "the fourth touch was not taken" >&2; return 1; }
  until [ "$(grep -c ' EVENT Cy accept' "$VC_LOG")" -ge 2 ]; do
    sleep 0.1
    waited=$((waited + 1))
    [ "$waited" -lt 300 ] || { echo "the records never went out" >&2; return 1; }
  done
  sleep 0.5
  finger_screenshot "$shots/5-question.png"
  xdotool key Return
  say "answered the question with Yes"
}
