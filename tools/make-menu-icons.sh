#!/usr/bin/env bash
# Draws the application's menu icon: resources/icons/korvel-control.svg, the tray's green icon (tools/make-icons.sh)
# as a scalable picture with the same geometry, and from it the PNGs of the usual hicolor sizes,
# resources/icons/korvel-control-<size>.png. Needs rsvg-convert (Debian's librsvg2-bin); the output is committed,
# so the build does not need it.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/resources/icons"
mkdir -p "$out"

# The numbers of tools/make-icons.sh: a 256 pixel rounded square, its rim, and the three-node sharing glyph.
cat >"$out/korvel-control.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="body" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="256">
      <stop offset="0" stop-color="#3FC152"/>
      <stop offset="1" stop-color="#1E8A2F"/>
    </linearGradient>
  </defs>
  <rect x="4" y="4" width="248" height="248" rx="56" fill="url(#body)"/>
  <rect x="6" y="6" width="244" height="244" rx="54" fill="none" stroke="#176A24" stroke-width="4"/>
  <g stroke="#F4F6F4" stroke-width="20">
    <line x1="80" y1="128" x2="172" y2="72"/>
    <line x1="80" y1="128" x2="172" y2="184"/>
  </g>
  <g fill="#F4F6F4">
    <circle cx="80" cy="128" r="30"/>
    <circle cx="172" cy="72" r="30"/>
    <circle cx="172" cy="184" r="30"/>
  </g>
</svg>
SVG

for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "$out/korvel-control-$size.png" "$out/korvel-control.svg"
done
echo "wrote $out/korvel-control.svg and its PNGs"
