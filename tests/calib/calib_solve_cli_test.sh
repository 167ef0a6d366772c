#!/bin/sh
# calib-solve on the worked panels (whole output compared) and on bad input
# (exit 2, nothing on stdout, one line on stderr).
# Usage: calib_solve_cli_test.sh PATH-TO-calib-solve
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

fail() {
    echo "FAIL: calib-solve $*"
    failed=$((failed + 1))
}

# expect ARGS... with the wanted stdout on standard input
expect() {
    cat >"$work/want"
    "$tool" "$@" >"$work/got" 2>"$work/err"
    rc=$?
    if [ "$rc" -ne 0 ] || [ -s "$work/err" ] || ! cmp -s "$work/want" "$work/got"; then
        fail "$* (exit $rc)"
        diff "$work/want" "$work/got"
        cat "$work/err"
    else
        passed=$((passed + 1))
    fi
}

refuse() {
    "$tool" "$@" >"$work/got" 2>"$work/err"
    rc=$?
    if [ "$rc" -ne 2 ] || [ -s "$work/got" ] || [ "$(wc -l <"$work/err")" -ne 1 ]; then
        fail "$* should be refused (exit $rc)"
        cat "$work/got" "$work/err"
    else
        passed=$((passed + 1))
    fi
}

identity() {
    printf 'expected %s\n' "$1"
    printf '%s\n' 'coefficients 16984 0 8492 0 16984 8492 16984 1' 'record-x 16984 0 0 16984' \
        'record-y 0 16984 0 16984' 'fit PASS'
}

# Raw points equal to the expected ones, in every orientation.
for case in '0|6553 6553 26213 26213 26213 6553 6553 26213' \
    '10000|6553 6553 26213 26213 26213 6553 6553 26213' \
    '1|6553 26214 26213 6554 6553 6554 26213 26214' \
    '2|26214 26214 6554 6554 6554 26214 26214 6554' \
    '3|26214 6553 6554 26213 26214 26213 6554 6553'; do
    orientation=${case%%|*}
    points=${case#*|}
    # shellcheck disable=SC2086
    identity "$points" | expect --orientation "$orientation" $points
done

expect 26214 6553 6554 26213 6554 6553 26214 26213 <<'OUT'
expected 6553 6553 26213 26213 26213 6553 6553 26213
coefficients -2124 0 69566084 0 2123 1061 2123 1
record-x -2124 0 32767 2123
record-y 0 2123 0 2123
fit PASS
OUT

expect --logical-max 32767 13206 13206 52526 52526 52526 13206 13206 52526 <<'OUT'
expected 6553 6553 26213 26213 26213 6553 6553 26213
coefficients 16984 0 -1681433 0 16984 -1681433 33968 1
record-x 16984 0 -49 33968
record-y 0 16984 -49 33968
fit PASS
OUT

# Nearly collinear: the scaled divisor reaches 0.
expect 100 50 200 50 300 50 401 51 <<'OUT'
expected 6553 6553 26213 26213 26213 6553 6553 26213
coefficients 89 -30089 1504438 0 11999 -587976 1 0
record-x 89 -30089 1504438 1
record-y 0 11999 -587976 1
fit FAIL
OUT

for points in '1000 2000 1000 2000 1000 2000 1000 2000' '100 300 200 500 300 700 400 900'; do
    # shellcheck disable=SC2086
    expect $points <<'OUT'
expected 6553 6553 26213 26213 26213 6553 6553 26213
coefficients 0 0 0 0 0 0 1 0
record-x 0 0 0 1
record-y 0 0 0 1
fit FAIL
OUT
done

# Mirrored positions below zero from a large logical maximum; negative
# mapped positions count as 0 in the fit check.
expect --orientation 2 --logical-max 65535 19660 19660 0 0 0 19660 19660 0 <<'OUT'
expected 19660 19660 -19661 -19661 -19661 19660 19660 -19661
coefficients 8492 0 -83479302 0 8492 -83479302 4246 1
record-x 8492 0 -19660 4246
record-y 0 8492 -19660 4246
fit FAIL
OUT

echo 'coefficients -4 0 14 0 4 2 4 1' | expect --pairs 1 1 2 1 2 2 1 2 2 1 1 1 1 2 2 2
echo 'coefficients 0 0 0 0 0 0 0 0' | expect --pairs

"$tool" --help >"$work/got" 2>&1 && grep -q '^Usage: calib-solve' "$work/got" && passed=$((passed + 1)) ||
    fail "--help"

refuse 1 2 3 4 5 6 7
refuse 1 2 3 4 5 6 7 8 9
refuse 1 2 3 4 5 6 7 x
refuse 1 2 3 4 5 6 7 1e3
refuse 1 2 3 4 5 6 7 -0x1
refuse 1 2 3 4 5 6 7 65536
refuse 1 2 3 4 5 6 7 -1
refuse --orientation
refuse 1 2 3 4 5 6 7 8 --logical-max
refuse --logical-max 4294967296 1 2 3 4 5 6 7 8
refuse --orientation 2147483648 1 2 3 4 5 6 7 8
refuse --frobnicate 1 2 3 4 5 6 7 8
refuse -x 1 2 3 4 5 6 7 8
refuse --pairs 1 2 3
refuse --pairs 1 2 3 65536
refuse --pairs 2147483648 2 3 4
refuse --pairs --orientation 1 1 2 3 4
# shellcheck disable=SC2046
refuse --pairs $(seq 1 68)
# Too large for an exact solve: refused rather than wrapped.
refuse --logical-max 4294967295 60000 60000 1000 1000 1000 60000 60000 1000
refuse --pairs 2147483647 2147483647 65535 65535 -2147483648 2147483647 0 65535 \
    2147483647 -2147483648 65535 0 -2147483648 -2147483648 0 0

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
