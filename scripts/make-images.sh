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

# The crash reporter's list icons (module kinds and source lines; magenta is transparent) and the
# picture of the error dialog (its bottom-left pixel's colour, magenta, is transparent). Drawn
# without smoothing: a blend of an edge with magenta would show as a pink fringe.
convert -size 16x16 xc:magenta +antialias \
  -fill '#f4f4f4' -stroke '#606060' -draw 'rectangle 2,1 12,14' -stroke none \
  -fill '#3060c0' -draw 'rectangle 4,4 10,5' -draw 'rectangle 4,7 10,8' -draw 'rectangle 4,10 8,11' \
  -fill '#e0a000' -draw 'rectangle 10,10 14,14' \
  -type TrueColor BMP3:crashlog_dll.bmp
convert -size 16x16 xc:magenta +antialias \
  -fill '#d8b070' -stroke '#805020' -draw 'rectangle 1,4 14,14' -draw 'line 1,4 4,1' -draw 'line 14,4 11,1' \
  -draw 'line 4,1 11,1' -stroke none -fill '#805020' -draw 'rectangle 6,7 9,9' \
  -type TrueColor BMP3:crashlog_bpl.bmp
convert -size 16x16 xc:magenta +antialias \
  -fill '#ffffff' -stroke '#1d5fa8' -draw 'rectangle 1,2 14,13' -stroke none \
  -fill '#1d5fa8' -draw 'rectangle 1,2 14,4' -fill '#c02020' -draw 'rectangle 11,3 13,3' \
  -fill '#a0a0a0' -draw 'rectangle 3,7 8,8' -draw 'rectangle 3,10 12,11' \
  -type TrueColor BMP3:crashlog_vcl.bmp
convert -size 16x16 xc:magenta +antialias \
  -fill '#ffffff' -stroke '#606060' -draw 'rectangle 2,1 13,14' -stroke none \
  -fill '#108010' -draw 'rectangle 4,3 11,3' -fill '#202020' -draw 'rectangle 4,5 9,5' \
  -draw 'rectangle 5,7 11,7' -draw 'rectangle 5,9 10,9' -fill '#c02020' -draw 'rectangle 4,11 11,12' \
  -type TrueColor BMP3:crashlog_pas.bmp
convert -size 32x32 xc:magenta +antialias \
  -fill '#d4d0c8' -stroke '#404040' -draw 'roundrectangle 1,1 30,23 3,3' \
  -fill '#0b2a5b' -stroke none -draw 'rectangle 4,4 27,20' \
  -fill '#c02020' -draw 'circle 15,12 15,6' -fill '#ffffff' -draw 'rectangle 14,8 16,13' -draw 'rectangle 14,15 16,16' \
  -fill '#808080' -draw 'rectangle 13,24 18,27' -fill '#606060' -draw 'rectangle 8,28 23,30' \
  -type TrueColor BMP3:crashlog_monitor.bmp
