#!/usr/bin/env bash
# Draws the installer window's images and icons into resources/ with ImageMagick 6
# (/usr/bin/convert) and the WenQuanYi Micro Hei font (Debian fonts-wqy-microhei).
# Sizes are those of the payload table: the window shows them scaled down, so they stay sharp
# on high-DPI screens. The outputs are committed; run this again only to change the artwork.
set -eu
cd "$(dirname "$0")"

CONVERT=/usr/bin/convert
FONT=$(fc-list ':family=WenQuanYi Micro Hei' file | head -n1 | sed 's/: *$//')
if [ ! -x "$CONVERT" ] || [ -z "$FONT" ]; then
  echo "draw-images: needs /usr/bin/convert (imagemagick) and fonts-wqy-microhei" >&2
  exit 1
fi

GREEN='#079D55'
GREEN_LIGHT='#E6F5EE'
GREEN_DARK='#05803F'
INK='#333333'
GREY='#8A8F94'
# Reproducible PNGs: no time stamps or other ancillary chunks.
PNG_OPTS=(-depth 8 -strip -define png:exclude-chunks=date,time)

# A compass on a green disc: white bezel, four ticks, a two-tone needle pointing north-east.
# $1 size in pixels, $2 output (PNG or ICO via the caller), $3 disc colour.
compass() {
  local s=$1 out=$2 disc=$3
  local c=$((s / 2)) r=$((s * 46 / 100)) ring=$((s * 36 / 100)) w=$((s * 3 / 100))
  local t1=$((s * 30 / 100)) t2=$((s * 34 / 100))
  # Needle: a long diamond through the centre, tip towards the upper right.
  local n=$((s * 27 / 100)) k=$((s * 7 / 100))
  local tx=$((c + n * 707 / 1000)) ty=$((c - n * 707 / 1000))
  local bx=$((c - n * 707 / 1000)) by=$((c + n * 707 / 1000))
  local lx=$((c - k * 707 / 1000)) ly=$((c - k * 707 / 1000))
  local rx=$((c + k * 707 / 1000)) ry=$((c + k * 707 / 1000))
  "$CONVERT" -size "${s}x${s}" xc:none \
    -fill "$disc" -stroke none -draw "circle $c,$c $c,$((c - r))" \
    -fill none -stroke white -strokewidth "$w" -draw "circle $c,$c $c,$((c - ring))" \
    -stroke white -strokewidth "$w" \
    -draw "line $c,$((c - t1)) $c,$((c - t2))" -draw "line $c,$((c + t1)) $c,$((c + t2))" \
    -draw "line $((c - t1)),$c $((c - t2)),$c" -draw "line $((c + t1)),$c $((c + t2)),$c" \
    -stroke none -fill white -draw "polygon $tx,$ty $lx,$ly $rx,$ry" \
    -fill "$GREEN_LIGHT" -draw "polygon $bx,$by $lx,$ly $rx,$ry" \
    -fill "$disc" -draw "circle $c,$c $c,$((c - s * 3 / 100))" \
    "${PNG_OPTS[@]}" "$out"
}

# Window background: white with a soft green wash at the bottom edge.
"$CONVERT" -size 1920x1260 xc:white \
  \( -size 1920x420 gradient:white-"$GREEN_LIGHT" \) -gravity south -composite \
  "${PNG_OPTS[@]}" background.png

# Install button: green pill with "立即安装" in white.
"$CONVERT" -size 416x128 xc:none -fill "$GREEN" -draw "roundrectangle 0,0 415,127 24,24" \
  -font "$FONT" -pointsize 52 -fill white -gravity center -annotate +0+0 '立即安装' \
  "${PNG_OPTS[@]}" install.png

compass 384 app_icon.png "$GREEN"

# Folder: tab and body in the accent colour.
"$CONVERT" -size 72x72 xc:none -stroke none \
  -fill "$GREEN_DARK" -draw "roundrectangle 6,14 34,30 4,4" \
  -fill "$GREEN" -draw "roundrectangle 6,20 66,60 6,6" \
  -fill "$GREEN_LIGHT" -draw "rectangle 12,28 60,31" \
  "${PNG_OPTS[@]}" file_icon.png

# "自定义选项" as a green text link.
"$CONVERT" -size 228x48 xc:none -font "$FONT" -pointsize 34 -fill "$GREEN" -gravity center \
  -annotate +0+0 '自定义选项' "${PNG_OPTS[@]}" custom_option.png

# Title-bar buttons: thin grey glyphs centred in a 120x120 cell (shown at 40x40).
"$CONVERT" -size 120x120 xc:none -stroke "$GREY" -strokewidth 5 \
  -draw "stroke-linecap round line 46,46 74,74" -draw "stroke-linecap round line 74,46 46,74" "${PNG_OPTS[@]}" close_icon.png
"$CONVERT" -size 120x120 xc:none -stroke "$GREY" -strokewidth 5 \
  -draw "stroke-linecap round line 46,60 74,60" "${PNG_OPTS[@]}" min_icon.png

# Auto-start check box: box (empty or green with a tick) and "开机自启动".
checkbox() {
  local out=$1 checked=$2
  local args=(-size 276x48 xc:none -strokewidth 3)
  if [ "$checked" = 1 ]; then
    args+=(-stroke none -fill "$GREEN" -draw "roundrectangle 6,8 38,40 6,6"
           -stroke white -strokewidth 4 -fill none
           -draw "stroke-linecap round stroke-linejoin round polyline 13,24 20,32 32,16")
  else
    args+=(-stroke "$GREY" -fill white -draw "roundrectangle 7,9 37,39 6,6")
  fi
  "$CONVERT" "${args[@]}" -stroke none -fill "$INK" -font "$FONT" -pointsize 30 -gravity west \
    -annotate +52+0 '开机自启动' "${PNG_OPTS[@]}" "$out"
}
checkbox autostart_check_box.png 0
checkbox autostart_check_box_selected.png 1

# Icons: the program (app.ico, several sizes), the product and its browser component (256 px).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48 64 256; do compass "$size" "$work/app_$size.png" "$GREEN"; done
"$CONVERT" "$work"/app_16.png "$work"/app_24.png "$work"/app_32.png "$work"/app_48.png \
  "$work"/app_64.png "$work"/app_256.png app.ico
compass 256 "$work/product.png" "$GREEN"
"$CONVERT" "$work/product.png" oku.compass.ico
compass 256 "$work/browser.png" "$GREEN_DARK"
"$CONVERT" "$work/browser.png" chrome.ico
echo "draw-images: done"
