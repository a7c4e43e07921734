#!/usr/bin/env bash
# Checks what no test here can run: the GitHub workflows, against the GitHub
# workflow schema, and the smoke script's syntax as a plain POSIX shell reads
# it; and that the C and C++ sources keep the project's clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."

# The validator's schema predates the `attestations` permission (2024), which
# build provenance needs; that one line is set aside, everything else is
# checked as it stands.
checked=$(mktemp --suffix=.yml)
trap 'rm -f "$checked"' EXIT
for workflow in .github/workflows/*.yml; do
  grep -v -E '^ +attestations: write$' "$workflow" >"$checked"
  npx --yes @action-validator/cli@0.6.0 "$checked"
  echo "lint: $workflow is a valid workflow"
done
if command -v dash >/dev/null; then
  dash -n tools/smoke.sh
else
  sh -n tools/smoke.sh
fi
echo "lint: tools/smoke.sh parses as POSIX shell"

git ls-files '*.cc' '*.h' '*.c' | xargs clang-format --dry-run --Werror
echo "lint: the C and C++ sources are formatted"
