#!/usr/bin/env bash
# Screenshots of every scene of the assistant, in Chinese and in English, for people to look at.
#
#   tools/screenshots.sh [OUT_DIR]        (default: screenshots/ in the repository, git-ignored)
#
# Builds the assistant, its catalogue and the media service in the project's build folder
# (BUILD_DIR, default build/). Then, on a virtual X server, it starts the media service from
# <build>/server/KivVelnorService on a generated sample library (tools/standin-service.py stands
# in when the service is not built), starts the assistant with fresh user folders, drives it with
# xdotool and writes <lang>-NN-<scene>.png. A local stand-in of the vendor cloud offers an update
# for the last pictures. Run as root, everything happens in a private network namespace, so a
# media service already running on this machine is neither used nor disturbed.
# VELNOR_SHOTS_STANDIN=1 uses the stand-in even when the service is built.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Pictures need no headset: the service keeps its media server off the machine's networks.
export VELNOR_NO_UPNP=1
build=$(realpath -m "${BUILD_DIR:-$root/build}")
out=$(realpath -m "${1:-$root/screenshots}")

say() { echo "screenshots: $*" >&2; }
die() { say "$*"; exit 1; }

if [[ -z ${VELNOR_SHOTS_INNER:-} ]]; then
  declare -A tool_package=([Xvfb]=xvfb [xdotool]=xdotool [convert]=imagemagick [ffmpeg]=ffmpeg
                           [curl]=curl [python3]=python3)
  missing=()
  for tool in "${!tool_package[@]}"; do
    command -v "$tool" >/dev/null || missing+=("${tool_package[$tool]}")
  done
  if ((${#missing[@]})); then
    [[ $(id -u) -eq 0 ]] || die "please install: ${missing[*]}"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends "${missing[@]}"
  fi

  [[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
  targets=(VelnorAssistant velnor_translations)
  [[ -f $root/service/CMakeLists.txt ]] && targets+=(KivVelnorService)
  cmake --build "$build" -j2 --target "${targets[@]}"

  export VELNOR_SHOTS_INNER=1
  if [[ $(id -u) -eq 0 ]] && unshare --net true 2>/dev/null; then
    VELNOR_SHOTS_NETNS=1 exec unshare --net "$0" "$@"
  fi
  exec "$0" "$@"
fi

# ---- inside: private network (when root), nothing of the user's touched ----
ip link set lo up 2>/dev/null || true
# In the private network only: a home network's address, for the settings popup to name.
if [[ -n ${VELNOR_SHOTS_NETNS:-} ]]; then
  ip link add velnor0 type veth peer name velnor1 2>/dev/null &&
    ip addr add 192.168.1.20/24 dev velnor0 && ip link set velnor1 up && ip link set velnor0 up ||
    true
fi
python3 - <<'EOF' || die "127.0.0.1:22823 is in use: stop the media service that holds it, or run as root"
import socket
s = socket.socket()
s.bind(("127.0.0.1", 22823))
EOF

work=$(mktemp -d /tmp/velnor-shots.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"

# A virtual screen with room for the main window and the windows beside it.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1440x960x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || die "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
exec 3>&-

service_bin=$build/server/KivVelnorService
[[ -n ${VELNOR_SHOTS_STANDIN:-} ]] && service_bin=/nonexistent
media=$work/media

make_media() { # the same folders and names the stand-in serves
  local spec path height seconds source
  say "generating sample clips"
  while IFS='|' read -r path height seconds source; do
    [[ -z $path ]] && continue
    mkdir -p "$(dirname "$media/$path")"
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "$source=size=$((height * 16 / 9))x$height:rate=10" \
      -t "$seconds" -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$media/$path"
  done <<'EOF'
Documentaries/Coral reefs.mp4|1080|3|testsrc2
Documentaries/Deep sea.mkv|2160|2|mandelbrot
Documentaries/Arctic winter.mp4|720|4|smptehdbars
Family videos/Birthday 2022.mp4|1080|3|testsrc
Family videos/First steps.mov|720|2|rgbtestsrc
Holiday 2023/Day trips/Lighthouse.mp4|1080|2|testsrc2
Holiday 2023/Day trips/Vineyard.mp4|720|2|yuvtestsrc
Holiday 2023/Beach.mp4|1080|3|smptebars
Holiday 2023/Harbour at night.mp4|1440|2|mandelbrot
Holiday 2023/Old town walk.mkv|720|5|testsrc
Holiday 2023/Sunset timelapse.mp4|2160|1|testsrc2
Lectures/Linear algebra 01.mp4|720|6|smptehdbars
Lectures/Linear algebra 02.mp4|720|6|smptebars
Music videos/Live at the park.mp4|1080|3|rgbtestsrc
Short films/The long way home.mkv|1080|4|testsrc
Trailer.mp4|1080|2|mandelbrot
Welcome clip.mkv|360|1|testsrc2
EOF
}

api() { # method path [json]
  curl -sS -X "$1" -H 'Content-Type: application/json' ${3:+--data "$3"} \
    "http://127.0.0.1:22823$2" >/dev/null
}

start_media_service() { # session folder
  if [[ -x $service_bin ]]; then
    "$service_bin" --port 22823 --lan-port 22824 --data-dir "$1/service" >"$1/service.log" 2>&1 &
    service_pid=$!
    pids+=($service_pid)
    for _ in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:22823/settings/ && break; sleep 0.1; done
    local filters='[".mkv",".mp4",".3gp",".avi",".flv",".m4v",".mov",".mpeg",".mpg",".webm",".wmv"]'
    local item
    for item in "$media"/*; do
      api POST /files "{\"path\":\"$item\",\"filters\":$filters,\"depth\":1,\"pid\":0}"
    done
    api PUT /settings/ '{"deviceName":"Living-room PC"}'
    sleep 4 # covers are drawn after the import has answered
  else
    python3 "$root/tools/standin-service.py" media --port 22823 --root "$1/media" >"$1/service.log" 2>&1 &
    service_pid=$!
    pids+=($service_pid)
    for _ in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:22823/settings/ && break; sleep 0.1; done
  fi
}

# ---- driving the assistant; coordinates are relative to the main window ----
mx=0 my=0
click() { xdotool mousemove $((mx + $1)) $((my + $2)) click "${3:-1}"; sleep 0.6; }
double_click() { xdotool mousemove $((mx + $1)) $((my + $2)) click --repeat 2 --delay 80 1; sleep 1; }
key() { xdotool key "$@"; sleep 0.5; }
grab() { # name [geometry]
  local file=$out/$lang-$1.png
  import -window root -crop "${2:-1360x875+$mx+$my}" +repage "$file"
  say "wrote $file"
}
# Centre of the area painted in one colour (a page's button), relative to the main window.
locate() {
  local box
  import -window root -crop "1360x875+$mx+$my" +repage "$work/find.png"
  box=$(convert "$work/find.png" -fuzz 2% -fill black +opaque "$1" -format '%@' info:)
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || die "nothing painted $1 on screen"
  echo $((BASH_REMATCH[3] + BASH_REMATCH[1] / 2)) $((BASH_REMATCH[4] + BASH_REMATCH[2] / 2))
}
click_colour() { local at; at=$(locate "$1"); click ${at% *} ${at#* }; }

start_assistant() { # session folder, cloud URL
  (
    cd "$build"
    export HOME=$1/home XDG_RUNTIME_DIR=$1/run XDG_DATA_HOME=$1/data XDG_CONFIG_HOME=$1/config
    export XDG_CACHE_HOME=$1/cache VELNOR_CLOUD_URL=$2 LANG=$locale LC_ALL=$locale
    exec ./VelnorAssistant
  ) >"$1/assistant.log" 2>&1 &
  assistant_pid=$!
  pids+=($assistant_pid)
  local window
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$assistant_pid" --name '^Velnor$' | head -n1) ||
    die "the main window did not appear (see $1/assistant.log)"
  xdotool windowmove "$window" 40 40
  mx=40 my=40
  sleep 2
}

stop_assistant() {
  click 1300 55 # close icon
  for _ in $(seq 50); do kill -0 "$assistant_pid" 2>/dev/null || break; sleep 0.1; done
  kill "$assistant_pid" 2>/dev/null || true
}

cell() { echo $((30 + 260 * ($1 % 5) + 130)) $((200 + 268 * ($1 / 5) + 120)); }

session() {
  local dir=$work/$lang
  mkdir -p "$dir"/{home,run,data,config,cache}
  chmod 700 "$dir/run"
  start_media_service "$dir"
  start_assistant "$dir" "http://127.0.0.1:9"

  grab 01-welcome                      # first run after installation
  click_colour '#4F7FFE'; sleep 0.5
  grab 02-grid
  click 100 55                         # import menu
  grab 02a-import-menu
  click 110 201                        # videos: the toolkit's file dialog, filtered
  local dialog
  dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^KIVPlayerAssistant$' | head -n1) ||
    die "no file dialog"
  sleep 1
  grab 02b-file-dialog 1440x960+0+0
  xdotool windowactivate --sync "$dialog" 2>/dev/null || true
  key Escape
  xdotool search --onlyvisible --name '^KIVPlayerAssistant$' >/dev/null && die "the file dialog stayed open"
  click $(cell 6) 3; sleep 0.5         # context menu of a video
  grab 03-context-menu
  click 1200 760                       # a press elsewhere closes the menu
  double_click $(cell 2)               # into "Holiday 2023"
  grab 04-subfolder
  click 1178 55                        # settings
  grab 05-settings-popup
  local box                            # the edit icon ends the device-name row
  import -window root -crop "240x24+$((mx + 858))+$((my + 236))" +repage "$work/row.png"
  box=$(convert "$work/row.png" -fuzz 8% -trim -format '%@' info:)
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || die "no device-name row"
  click $((858 + BASH_REMATCH[3] + BASH_REMATCH[1] - 7)) $((236 + BASH_REMATCH[4] + BASH_REMATCH[2] / 2))
  grab 06-device-name
  key ctrl+a BackSpace
  click_colour '#177BE6'; sleep 0.2    # an empty name is refused with a toast
  grab 07-toast
  click 700 760; sleep 2.5             # closes the settings popup; the toast goes by itself
  click 1106 55                        # help
  grab 08-help
  click_colour '#177BE6'
  click 1305 140                       # view and sort popup
  grab 09-sort-popup
  click 1162 305                       # list view
  click 1208 439                       # by size
  grab 10-sort-popup-chosen
  click 830 439                        # back to by name
  xdotool mousemove $((mx + 300)) $((my + 800)); key Escape
  xdotool mousemove $((mx + 310)) $((my + 810)); sleep 0.3 # hover follows a real move
  grab 11-list-subfolder
  click 45 140                         # home
  grab 12-list
  double_click 400 294                 # the first row, "Documentaries"
  kill -STOP "$service_pid"            # hold the service so the import stays in progress
  click 1314 190                       # refresh re-imports the folder on show
  grab 13-wait
  kill -CONT "$service_pid"; sleep 1.5
  grab 14-import-result
  click_colour '#4F7FFE'

  # A second start only says that the assistant already runs.
  (
    cd "$build"
    export HOME=$dir/home XDG_RUNTIME_DIR=$dir/run XDG_DATA_HOME=$dir/data XDG_CONFIG_HOME=$dir/config
    export XDG_CACHE_HOME=$dir/cache LANG=$locale LC_ALL=$locale
    exec ./VelnorAssistant
  ) >"$dir/second.log" 2>&1 &
  local second=$! notice geometry
  pids+=($second)
  notice=$(timeout 10 xdotool search --sync --onlyvisible --pid "$second" | head -n1) || die "no notice"
  xdotool windowmove "$notice" 520 330; sleep 1
  grab 15-second-instance 400x300+520+330
  wait "$second" 2>/dev/null || true
  stop_assistant

  # The next start finds a newer version at the (stand-in) vendor cloud.
  python3 "$root/tools/standin-service.py" cloud --forced --port 8631 >"$dir/cloud.log" 2>&1 &
  pids+=($!)
  sleep 0.5
  start_assistant "$dir" "http://127.0.0.1:8631"
  sleep 1
  grab 16-update
  click_colour '#177BE6'               # installing fails: the stand-in installer is no program
  sleep 0.3
  grab 17-update-install-failed
  stop_assistant
  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
}

[[ -x $service_bin ]] && make_media
say "writing to $out"
for lang in zh en; do
  if [[ $lang == zh ]]; then locale=zh_CN.UTF-8; else locale=en_US.UTF-8; fi
  session
done
