#!/usr/bin/env bash
# Builds Kestrine.exe and the release (zip, SBOM, checksums) once more, from
# a copy of the sources in another folder (with a space in its path), under
# another umask and time zone, on a system where no Wine can be found, as a
# packager would build it, and checks that all of it is byte for byte the
# given build's: no timestamp, path, permission or time zone may reach them.
# Without Wine a build with its tests must refuse to configure, saying why.
#
#   check-reproducible.sh SOURCE_DIR BUILD_DIR WORK_DIR TOOLCHAIN BUILD_TYPE GENERATOR
set -euo pipefail

source_dir=$(realpath "$1")
reference=$(realpath "$2")
work=$(realpath -m "$3")
toolchain=$(realpath "$4")
build_type=$5
generator=$6

cmake --build "$reference" --target dist >"$work.reference.log" 2>&1 ||
  { cat "$work.reference.log" >&2; exit 1; }
rm -f "$work.reference.log"

# Runs a command in a mount namespace of its own where Wine's folder and any
# wine64 on PATH are covered, so that nothing can find Wine.
without_wine() {
  unshare --mount -- bash -c '
    set -e
    [ ! -d /usr/lib/wine ] || mount -t tmpfs none /usr/lib/wine
    while wine=$(command -v wine64 wine); do
      for found in $wine; do mount --bind /dev/null "$found"; done
      hash -r
    done
    exec "$@"' bash "$@"
}

rm -rf "$work"
elsewhere="$work/else where"
mkdir -p "$elsewhere"
# The project's files, as git sees them, without any build output.
(cd "$source_dir" &&
  git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents -t "$elsewhere")
(
  umask 077
  export TZ=Pacific/Kiritimati
  without_wine cmake -S "$elsewhere" -B "$work/build two" -G "$generator" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$build_type" \
    -DBUILD_TESTING=OFF >"$work/configure.log"
  grep -q '^WINE64_EXECUTABLE:FILEPATH=.*NOTFOUND$' \
    "$work/build two/CMakeCache.txt" || { echo "Wine was found" >&2; exit 1; }
  without_wine cmake --build "$work/build two" --target dist >"$work/build.log"
) || { cat "$work"/*.log >&2; exit 1; }
echo "reproducible: configured and built without Wine, tests off"

if without_wine cmake -S "$elsewhere" -B "$work/with tests" -G "$generator" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$work/tests.log" 2>&1 ||
    ! grep -q 'no wine64 was found' "$work/tests.log"; then
  cat "$work/tests.log" >&2
  echo "not refused: configuring the tests without Wine" >&2
  exit 1
fi
echo "reproducible: without Wine, configuring the tests stops and says why"

status=0
for artefact in Kestrine.exe dist/SHA256SUMS \
    $(cd "$reference" && ls dist/*.zip dist/*.spdx.json); do
  sha256sum "$reference/$artefact" "$work/build two/$artefact"
  if cmp "$reference/$artefact" "$work/build two/$artefact"; then
    echo "reproducible: $artefact is identical"
  else
    echo "not reproducible: $artefact differs" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
