#!/bin/sh
# Draws the application icon (resource 128) with ImageMagick and writes
# talvo.ico with 16x16, 32x32 and 48x48 images: a blue rounded square with a
# white chip outline and a downward arrow (firmware going into the device).
# Run it by hand after changing the drawing; the build uses the committed .ico.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size 256x256 xc:none \
    -fill '#1f5fbf' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill none -stroke white -strokewidth 14 -draw 'roundrectangle 56,120 199,216 12,12' \
    -stroke white -strokewidth 10 \
    -draw 'line 88,216 88,236' -draw 'line 128,216 128,236' -draw 'line 168,216 168,236' \
    -stroke none -fill white \
    -draw 'rectangle 110,28 146,92' -draw 'polygon 82,88 174,88 128,140' \
    "$tmp/icon-256.png"
for s in 16 32 48; do
    convert "$tmp/icon-256.png" -resize ${s}x${s} "PNG32:$tmp/icon-$s.png"
done
# Uncompressed (BMP) entries keep the icon readable by every loader.
convert "$tmp/icon-16.png" "$tmp/icon-32.png" "$tmp/icon-48.png" -define icon:format=bmp talvo.ico
