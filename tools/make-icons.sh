#!/usr/bin/env bash
# Draws the two tray icons (resources/png/icon_gray.png and icon_green.png) with ImageMagick: a rounded
# square in the link's colour carrying a light three-node sharing glyph. Run it from anywhere; the output
# is committed, so the build does not need ImageMagick. The menu icon (tools/make-menu-icons.sh) repeats the
# green icon's numbers as an SVG.
#
# The glyph is drawn with thick strokes and large nodes so that it still reads at 16 to 24 pixels, the size
# most system trays use.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/resources/png"
mkdir -p "$out"

size=256
radius=56     # corner radius of the square
glyph="#F4F6F4"
node=30       # node circle radius
stroke=20     # width of the joining lines

# Node centres: one on the left, two on the right, as in the common "share" sign.
lx=80;  ly=128
tx=172; ty=72
bx=172; by=184

draw_icon() {
    local file=$1 top=$2 bottom=$3 edge=$4
    # A vertical gradient cut to the rounded square (the square's shape becomes the alpha channel), a darker
    # rim, then the glyph: two lines from the left node, and the three nodes over their ends.
    convert -size ${size}x${size} gradient:"$top"-"$bottom" \
        \( -size ${size}x${size} xc:black -fill white \
            -draw "roundrectangle 4,4 $((size - 5)),$((size - 5)) $radius,$radius" \) \
        -alpha off -compose copy_opacity -composite -compose over \
        -fill none -stroke "$edge" -strokewidth 4 \
        -draw "roundrectangle 6,6 $((size - 7)),$((size - 7)) $((radius - 2)),$((radius - 2))" \
        -stroke "$glyph" -strokewidth $stroke -fill none \
        -draw "line $lx,$ly $tx,$ty" -draw "line $lx,$ly $bx,$by" \
        -stroke none -fill "$glyph" \
        -draw "circle $lx,$ly $((lx + node)),$ly" \
        -draw "circle $tx,$ty $((tx + node)),$ty" \
        -draw "circle $bx,$by $((bx + node)),$by" \
        -define png:color-type=6 -strip "PNG32:$file"
}

draw_icon "$out/icon_gray.png" "#8A8F94" "#5B6066" "#44484D"
draw_icon "$out/icon_green.png" "#3FC152" "#1E8A2F" "#176A24"
echo "wrote $out/icon_gray.png and $out/icon_green.png"
