#!/usr/bin/env bash
# Prepares and runs the private Wine prefixes of the build tree.
#
#   wine-prefix.sh up WINE64 DLL EMULATED_PREFIX [STOCK_PREFIX [AUDIO_PREFIX]]
#   wine-prefix.sh run WINE64 EMULATED_PREFIX DLL -- PROGRAM [ARGS...]
#   wine-prefix.sh down WINE64 PREFIX...
#
# The emulated prefix has the project's emulated endpoint registered as the
# MMDeviceEnumerator class. The stock and audio prefixes keep Wine's own audio
# stack: the stock one with every audio driver turned off, so that it has no
# output device; the audio one with Wine's PulseAudio driver, which finds the
# device of the server that PULSE_SERVER names when a program runs.
set -euo pipefail

readonly CLSID='{BCDE0395-E52F-467C-8E3D-C4579291692E}'
export WINEDEBUG=-all

command=$1
wine64=$2
shift 2
# Wine wants absolute prefix paths.
args=()
for arg in "$@"; do
  case $arg in
    --) break ;;
    /* | */* | .*) args+=("$(realpath -m "$arg")") ;;
    *) args+=("$arg") ;;
  esac
  shift
done
set -- "${args[@]}" "$@"
wineserver="$(dirname "$wine64")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver

create_prefix() {
  local prefix=$1
  [ -f "$prefix/system.reg" ] && return 0
  mkdir -p "$prefix"
  # No Mono or Gecko: nothing here needs them, and they cannot be fetched.
  WINEPREFIX=$prefix WINEDLLOVERRIDES='mscoree,mshtml=' \
    "$wine64" wineboot --init >/dev/null 2>&1
  WINEPREFIX=$prefix "$wineserver" -w
}

# Registry edits are kept in a stamp so that a prefix is only touched when
# what it should hold has changed.
configure_prefix() {
  local prefix=$1 wanted=$2
  shift 2
  local stamp="$prefix/kestrine.stamp"
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ] && return 0
  local key value
  while [ $# -gt 0 ]; do
    key=$1 value=$2
    shift 2
    WINEPREFIX=$prefix "$wine64" reg add "${key%|*}" ${key#*|} /d "$value" /f \
      >/dev/null
  done
  WINEPREFIX=$prefix "$wineserver" -w
  printf '%s' "$wanted" >"$stamp"
}

prepare_emulated() {
  local prefix=$1 dll
  dll=$(realpath "$2")
  create_prefix "$prefix"
  local windows_dll="Z:${dll//\//\\}"
  local key="HKLM\\Software\\Classes\\CLSID\\$CLSID\\InprocServer32"
  configure_prefix "$prefix" "emulated $windows_dll" \
    "$key|/ve" "$windows_dll" \
    "$key|/v ThreadingModel" "Both"
}

prepare_stock() {
  local prefix=$1 driver=$2
  create_prefix "$prefix"
  configure_prefix "$prefix" "stock, audio driver '$driver'" \
    'HKCU\Software\Wine\Drivers|/v Audio' "$driver"
}

case $command in
  up)
    prepare_emulated "$2" "$1"
    [ $# -ge 3 ] && prepare_stock "$3" ""
    [ $# -ge 4 ] && prepare_stock "$4" pulse
    # The server and the helper processes that the first program of a prefix
    # starts (services, device host) outlive every test, so they must not hold
    # the test runner's output open: start them here, detached from it.
    for prefix in "${@:2}"; do
      WINEPREFIX=$prefix "$wineserver" -p </dev/null >/dev/null 2>&1
      WINEPREFIX=$prefix "$wine64" wineboot </dev/null >/dev/null 2>&1
    done
    ;;
  run)
    prefix=$1 dll=$2
    shift 3
    prepare_emulated "$prefix" "$dll"
    WINEPREFIX=$prefix exec "$wine64" "$@"
    ;;
  down)
    for prefix in "$@"; do
      [ -d "$prefix" ] && WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    done
    ;;
  *)
    echo "usage: $0 up|run|down WINE64 ..." >&2
    exit 2
    ;;
esac
