#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick: the 760 x 60 animated banner, the toolbar
# strip and the button glyphs (16 x 16 each, magenta is transparent). The results are kept in
# resources/; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")/../resources"
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Banner: a dark blue band; the slogan slides in from the right and a light sweeps across.
frames=()
for i in $(seq 0 11); do
  x=$(( 760 - i * 50 )); [ $x -lt 150 ] && x=150
  sweep=$(( i * 70 - 60 ))
  convert -size 760x60 gradient:'#0b2a5b'-'#1d5fa8' \
    -fill 'rgba(255,255,255,0.25)' -draw "polygon $sweep,0 $((sweep+40)),0 $((sweep+10)),60 $((sweep-30)),60" \
    -font "$font" -pointsize 26 -fill '#ffd34d' -annotate +14+40 'Pelloran' \
    -pointsize 18 -fill white -annotate +$x+38 '批量清除 RM / RMVB / RA 影片中的恶意弹出广告' \
    "$tmp/f$i.gif"
  frames+=("$tmp/f$i.gif")
done
convert -delay 12 -loop 0 "${frames[@]}" -delay 150 "$tmp/f11.gif" -layers Optimize banner.gif

# Toolbar: add, modify, delete, clear.
convert -size 64x16 xc:magenta \
  -fill '#1a8f1a' -draw 'rectangle 6,2 9,13' -draw 'rectangle 1,6 14,9' \
  -stroke '#2050c0' -strokewidth 2 -draw 'line 19,13 29,3' -stroke none -fill '#e0a000' -draw 'rectangle 17,13 19,15' \
  -stroke '#c02020' -strokewidth 3 -draw 'line 35,3 45,13' -draw 'line 45,3 35,13' \
  -stroke none -fill '#606060' -draw 'rectangle 51,4 60,14' -fill '#909090' -draw 'rectangle 49,2 62,4' \
  -type TrueColor BMP3:toolbar.bmp

# Glyphs of the OK and Cancel buttons.
convert -size 32x16 xc:magenta \
  -stroke '#108010' -strokewidth 3 -fill none -draw 'polyline 2,8 6,12 14,3' \
  -stroke '#c02020' -draw 'line 19,3 29,13' -draw 'line 29,3 19,13' \
  -type TrueColor BMP3:glyphs.bmp
