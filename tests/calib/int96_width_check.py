#!/usr/bin/env python3
"""The 96-bit integers are built from 32-bit words alone: fails when a type
wider than 32 bits, an integer literal of type long, or floating point appears
in the code of calib/int96.h and calib/int96.cpp (comments and strings left
out).

    int96_width_check.py calib/int96.h calib/int96.cpp
"""
import re
import sys

# Types of 64 bits or more on some target (long is 64-bit on Linux), and the
# ones whose width is the platform's choice (size_t, the fast types).
WIDE_TYPES = re.compile(
    r"\b(u?int(64|128)_t|__u?int(64|128)(_t)?|u?int_(fast|least)\d+_t|u?intmax_t|u?intptr_t"
    r"|size_t|ptrdiff_t|long|_BitInt|int128|double|float|long_double)\b")
# 1L, 1ul, 0xFFULL: literals of type long or long long.
LONG_LITERAL = re.compile(r"\b(0[xX][0-9a-fA-F']+|\d[\d']*)[uU]?[lL]{1,2}[uU]?\b")
# 1.5, .5, 1e3, 1.f: floating literals (hexadecimal integers excluded).
FLOAT_LITERAL = re.compile(r"(?<![\w.])(\d[\d']*\.\d*|\.\d+|\d[\d']*[eE][+-]?\d+)([fFlL])?(?![\w.])")
ALLOWED_INCLUDES = {"<cstdint>", '"calib/int96.h"'}


def code_only(text):
    """The text with comments, string and character literals blanked out
    (line numbers kept)."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(\\.|[^"\\\n])*"|\'(\\.|[^\'\\\n])*\'', re.S)

    def blank(match):
        word = match.group(0)
        if word.startswith('"'):
            return '""'
        return re.sub(r"[^\n]", " ", word)
    return pattern.sub(blank, text)


def problems(path):
    found = []
    with open(path, encoding="utf-8") as f:
        raw = f.read()
    includes = re.findall(r'^\s*#\s*include\s*(<[^>]*>|"[^"]*")', raw, re.M)
    for name in includes:
        if name not in ALLOWED_INCLUDES:
            found.append("%s: includes %s (only <cstdint> and the header)" % (path, name))
    for number, line in enumerate(code_only(raw).splitlines(), 1):
        if line.lstrip().startswith("#"):
            continue
        for rule, what in ((WIDE_TYPES, "a type wider than 32 bits or floating point"),
                           (LONG_LITERAL, "a literal of type long"),
                           (FLOAT_LITERAL, "a floating-point literal")):
            match = rule.search(line)
            if match:
                found.append("%s:%d: %s: '%s'" % (path, number, what, match.group(0)))
    return found


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    found = [p for path in sys.argv[1:] for p in problems(path)]
    for p in found:
        print(p)
    print("%d file(s) checked, %d problem(s)" % (len(sys.argv) - 1, len(found)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
