#!/usr/bin/env bash
# Checks what no test here can run: the GitHub workflows, against the GitHub
# workflow schema, and the smoke script's syntax as a plain POSIX shell reads
# it; and that the C and C++ sources keep the project's clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."

for workflow in .github/workflows/*.yml; do
  npx --yes @action-validator/cli@0.6.0 "$workflow"
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
