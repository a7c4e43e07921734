#!/usr/bin/env bash
# Builds Kestrine.exe and the release zip once more, from a copy of the
# sources in another folder (with a space in its path), under another umask
# and time zone, and checks that both are byte for byte the ones of the given
# build: no timestamp, path, permission or time zone may reach them.
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
  cmake -S "$elsewhere" -B "$work/build two" -G "$generator" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$build_type" \
    -DBUILD_TESTING=OFF >"$work/configure.log"
  cmake --build "$work/build two" --target dist >"$work/build.log"
) || { cat "$work"/*.log >&2; exit 1; }

zip=$(basename "$(ls "$reference"/dist/*.zip)")
status=0
for artefact in Kestrine.exe "dist/$zip"; do
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
