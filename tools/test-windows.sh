#!/usr/bin/env bash
# Builds the Windows half of the platform layer with MinGW-w64 into build-win32/ (or
# $BUILD_DIR-win32) and runs its tests under Wine, in a private Wine prefix inside that folder.
# ./test.sh runs this after the Linux suite; it can also run on its own.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}-win32
# Wine wants an absolute prefix path, and BUILD_DIR may be relative.
mkdir -p "$build"
build=$(cd "$build" && pwd)

for tool in x86_64-w64-mingw32-g++-posix wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "test-windows: $tool is missing (tools/setup.sh installs tools/packages-test-windows.txt)" >&2
    exit 1
  fi
done

cmake -S "$root/platform/win32" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2

# Everything Wine does stays in the build folder and never waits for a person: no Mono or
# Gecko download prompts, no menu entries in the user's desktop, no debug chatter, no display.
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

ready=$WINEPREFIX/.velnor-prefix-ready
if [[ ! -f $ready ]]; then
  echo "test-windows: creating the Wine prefix $WINEPREFIX"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! timeout 300 wineboot -i </dev/null >"$build/wineboot.log" 2>&1; then
    echo "test-windows: wineboot failed:" >&2
    tail -n 40 "$build/wineboot.log" >&2
    exit 1
  fi
  # Windows can be created without a display only with the null graphics driver, which the
  # prefix's processes read when they start: so the server is restarted after the change.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  touch "$ready"
fi

# Wine's own background processes would otherwise start under ctest and keep its output pipe
# open after the last test: start them first, detached from this script's output.
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1

cd "$build"
ctest --output-on-failure --timeout 60
