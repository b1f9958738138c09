#!/usr/bin/env bash
# Builds the assistant and its media service, then starts the assistant.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root"/tools/setup.sh
build=${BUILD_DIR:-$root/build}
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display found. Start it under a virtual X server instead:  xvfb-run -a ./run.sh" >&2
  exit 1
fi
# The English catalogue is looked up in the working folder, so start beside it.
cd "$build"
exec ./VelnorAssistant "$@"
