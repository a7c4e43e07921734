#!/bin/sh
# Runs a built Kestrine.exe as a user would and checks what it writes. POSIX
# shell, so that it runs alike under Git Bash or MSYS2 on Windows and under
# Wine elsewhere.
#
#   smoke.sh EXE [RUNNER]     RUNNER: a program that runs EXE, such as wine64
#
# help must write exactly the banner and the usage block. GetVolume must
# either report the level (exit 0) or, where there is no usable audio device,
# write the banner only and one diagnostic line on standard error (exit 1).
set -u

if [ $# -lt 1 ]; then
  echo "usage: $0 EXE [RUNNER]" >&2
  exit 2
fi
exe=$1
runner=${2-}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cr=$(printf '\r')

fail() {
  echo "smoke: FAILED: $*" >&2
  for stream in out err; do
    echo "--- standard $stream:" >&2
    od -c "$work/$stream" | head -n 40 >&2
  done
  exit 1
}

# Succeeds when FILE holds exactly one line, and that line matches the
# extended regular expression PATTERN.
one_line_matching() {
  [ "$(wc -l <"$1")" -eq 1 ] && grep -Eq "$2" "$1"
}

# Runs EXE with the given arguments; leaves its streams in out and err.
run() {
  if [ -n "$runner" ]; then
    "$runner" "$exe" "$@" >"$work/out" 2>"$work/err"
  else
    "$exe" "$@" >"$work/out" 2>"$work/err"
  fi
}

printf '%s\r\n' "Kestrine Utility" "Gets or Sets the audio volume level" \
  "Copyright (c) 2026 The Kestrine Authors" \
  "Provided as-is without warranty" "" >"$work/banner"
cp "$work/banner" "$work/help"
printf '%s\r\n' \
  "Get or Set the audio volume for the default audio output device" \
  "Usage: " "Kestrine [option]" "" "Options:" "GetVolume" \
  "SetVolume [0 to 100]" "help or ?" >>"$work/help"

# What a failed platform step may say, before its result code.
diagnostics="cannot create the audio device enumerator|no default audio output device"
diagnostics="$diagnostics|cannot open the endpoint volume of the default audio output device"
diagnostics="$diagnostics|cannot read the volume level|cannot set the volume level"

run help
status=$?
[ "$status" -eq 0 ] || fail "help ended with status $status"
cmp -s "$work/out" "$work/help" || fail "help did not write the banner and usage"
[ -s "$work/err" ] && fail "help wrote to standard error"
echo "smoke: help wrote the banner and the usage block, status 0"

run GetVolume
status=$?
banner_bytes=$(wc -c <"$work/banner")
head -c "$banner_bytes" "$work/out" >"$work/head"
cmp -s "$work/head" "$work/banner" || fail "GetVolume did not start with the banner"
tail -c "+$((banner_bytes + 1))" "$work/out" >"$work/rest"
case $status in
  0)
    [ -s "$work/err" ] && fail "GetVolume reported but wrote to standard error"
    one_line_matching "$work/rest" \
      "^Current volume level: [0-9]+(\.[0-9]+)?%$cr\$" ||
      fail "GetVolume did not write one report line after the banner"
    echo "smoke: passed: GetVolume reported the volume level:" \
      "$(tr -d '\r' <"$work/rest")"
    ;;
  1)
    [ -s "$work/rest" ] && fail "GetVolume failed but wrote more than the banner"
    one_line_matching "$work/err" "^Kestrine: ($diagnostics) \(0x[0-9A-F]{8}\)$cr\$" ||
      fail "GetVolume ended with status 1 without one diagnostic line"
    echo "smoke: passed: GetVolume diagnostic, status 1:" \
      "$(tr -d '\r' <"$work/err")"
    ;;
  *)
    fail "GetVolume ended with status $status"
    ;;
esac
