#!/usr/bin/env bash
# Builds Kestrine.exe once more, from a copy of the sources in another folder
# and into another build folder, and checks that the image is byte for byte
# the one given: no timestamp and no path may reach it.
#
#   check-reproducible.sh SOURCE_DIR REFERENCE_EXE WORK_DIR TOOLCHAIN BUILD_TYPE
set -euo pipefail

source_dir=$(realpath "$1")
reference=$(realpath "$2")
work=$(realpath -m "$3")
toolchain=$(realpath "$4")
build_type=$5

rm -rf "$work"
mkdir -p "$work/elsewhere"
# The project's files, as git sees them, without any build output.
(cd "$source_dir" &&
  git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents -t "$work/elsewhere")
cmake -S "$work/elsewhere" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE="$build_type" -DBUILD_TESTING=OFF >"$work/configure.log"
cmake --build "$work/build" --target Kestrine >"$work/build.log"

sha256sum "$reference" "$work/build/Kestrine.exe"
if cmp "$reference" "$work/build/Kestrine.exe"; then
  echo "reproducible: the two builds are identical"
  rm -rf "$work"
else
  echo "not reproducible: the images differ" >&2
  exit 1
fi
