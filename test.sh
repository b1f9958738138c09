#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root"/tools/setup.sh --tests
build=${BUILD_DIR:-$root/build}
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 120) || status=$?
# Suites that need a runner of their own (for example the Windows layer under Wine).
for extra in "$root"/tools/test-*.sh; do
  [[ -x $extra ]] || continue
  "$extra" || status=$?
done
exit $status
