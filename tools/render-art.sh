#!/usr/bin/env bash
# Renders the artwork under res/src/ into the pictures the scenes load from res/image/.
#
#   tools/render-art.sh            render every picture
#   tools/render-art.sh NAME...    render only res/src/NAME.svg (e.g. kiv_play kiv)
#
# The PNGs and kiv.ico are committed; the build never runs this script, so its tools are not in
# tools/packages*.txt. To regenerate the art on Debian install them first:
#   apt-get install --no-install-recommends librsvg2-bin imagemagick
#
# Each SVG's width and height are the size at which the scenes show the picture. It is rendered
# at that size as NAME.png and at twice that as NAME@2x.png, which Qt Quick picks on its own on
# high-density screens; ordinary screens decode and upload a quarter of the pixels, which the
# first frame feels. res/src/kiv.svg is the application icon: it becomes the window icon kiv.ico
# (16 to 256 px), the 80 px picture kiv_icon.png of the settings popup, the media service's
# UPnP icons (service/icons/) and the desktop icons that an installed copy puts into the icon
# theme (res/icons/kiv-SIZE.png), so they never drift apart.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
src=$root/res/src
out=$root/res/image

for tool in rsvg-convert convert; do
  command -v "$tool" >/dev/null || { echo "render-art: $tool is missing (see the header)" >&2; exit 1; }
done

render_png() { # svg, png, zoom
  rsvg-convert --zoom "$3" --format png --output "$2" "$1"
}

render_icon() {
  local svg=$src/kiv.svg tmp
  # A 256 px drawing shown at 80 px.
  render_png "$svg" "$out/kiv_icon.png" 0.3125
  render_png "$svg" "$out/kiv_icon@2x.png" 0.625
  # The sizes of the hicolor theme's apps folders; the window icon takes all but 22 px.
  mkdir -p "$root/res/icons"
  local frames=()
  for s in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$s" --height "$s" --format png --output "$root/res/icons/kiv-$s.png" "$svg"
    [[ $s == 22 ]] || frames+=("$root/res/icons/kiv-$s.png")
  done
  # The icons a UPnP control point shows for the media service; the service embeds them.
  mkdir -p "$root/service/icons"
  for s in 48 120; do
    rsvg-convert --width "$s" --height "$s" --format png --output "$root/service/icons/device-$s.png" "$svg"
  done
  # No time stamps in the frames, so an unchanged drawing gives a byte-identical icon.
  convert "${frames[@]}" -define png:exclude-chunks=date,time +set date:create +set date:modify \
    "$out/kiv.ico"
}

if (($#)); then
  names=("$@")
else
  names=()
  for f in "$src"/*.svg; do names+=("$(basename "$f" .svg)"); done
fi

mkdir -p "$out"
for name in "${names[@]}"; do
  [[ -f $src/$name.svg ]] || { echo "render-art: no $src/$name.svg" >&2; exit 1; }
  if [[ $name == kiv ]]; then
    render_icon
    echo "kiv.ico kiv_icon.png kiv_icon@2x.png service/icons/device-48.png service/icons/device-120.png res/icons/kiv-*.png"
  else
    render_png "$src/$name.svg" "$out/$name.png" 1
    render_png "$src/$name.svg" "$out/$name@2x.png" 2
    echo "$name.png $name@2x.png"
  fi
done
