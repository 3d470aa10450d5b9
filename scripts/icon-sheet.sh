#!/usr/bin/env bash
# Draws a sheet of KivoBar's icons as a built tree has them: the three tray pixmaps at 16, 22, 32 and
# 48 px on light and dark panel colours (the pixels a panel shows when it does not recolour the symbolic
# icons, and what the XEmbed tray shows), then the app icon at a few sizes, all pixel for pixel.
# usage: scripts/icon-sheet.sh BUILD_DIR OUT.png [ZOOM]     (e.g. scripts/icon-sheet.sh build docs/icons.png)
# ZOOM (1 by default) repeats each pixel ZOOMxZOOM times, to look at the pixels themselves.

set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ] || [ ! -d "$1" ]; then
    echo "usage: scripts/icon-sheet.sh BUILD_DIR OUT.png [ZOOM]" >&2
    exit 2
fi
build=$1
out=$2
zoom=${3:-1}
case $zoom in '' | *[!0-9]* | 0) echo "icon-sheet: ZOOM must be a whole number from 1" >&2; exit 2 ;; esac
command -v convert >/dev/null || { echo "icon-sheet: convert is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
tray=$build/app/icons/drawn
apps=$build/share/icons/hicolor
font=$(fc-match -f '%{file}' sans 2>/dev/null || true)

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

icons=(online offline needs-you)
tray_sizes=(16 22 32 48)
app_sizes=(16 24 32 48 64 128)
# name, panel colour, text colour: the panels people see most, light then dark.
panels=(
  "white #ffffff #2e3436"
  "GNOME light #f6f5f4 #2e3436"
  "Breeze light #eff0f1 #232629"
  "GNOME dark #2e3436 #eeeeec"
  "Breeze dark #31363b #eff0f1"
  "black #000000 #eeeeec"
)
label_width=110
gap=14

for icon in "${icons[@]}"; do
    for size in "${tray_sizes[@]}"; do
        [ -f "$tray/kivobar-$icon-symbolic-$size.png" ] ||
            { echo "icon-sheet: no kivobar-$icon-symbolic-$size.png in $tray: build first" >&2; exit 1; }
    done
done
for size in "${app_sizes[@]}"; do
    [ -f "$apps/${size}x$size/apps/io.kivo.KivoBar.png" ] ||
        { echo "icon-sheet: no ${size}x$size app icon in $apps: build first" >&2; exit 1; }
done

# label TEXT COLOUR BACKGROUND HEIGHT OUT: a left-aligned caption, vertically centred.
label() {
    convert -size "${label_width}x$4" "xc:$3" ${font:+-font "$font"} -pointsize 12 -fill "$2" \
        -gravity west -annotate +8+0 "$1" "$5"
}

# A heading over the sizes, then one strip per panel colour: the three icons side by side at each
# size, as a panel would hold them.
height=$((${tray_sizes[-1]} + 2 * 8))
heading=()
x=0
for size in "${tray_sizes[@]}"; do
    heading+=(-annotate "+$x+0" "$size px")
    x=$((x + 3 * (size + 6) + gap))
done
label "" '#2e3436' '#ffffff' 24 "$work/label-heading.png"
convert -size "${x}x24" xc:'#ffffff' ${font:+-font "$font"} -pointsize 12 -fill '#2e3436' -gravity west \
    "${heading[@]}" "$work/heading.png"
convert "$work/label-heading.png" "$work/heading.png" +append "$work/strip-heading.png"
strips=("$work/strip-heading.png")
colours=('#ffffff')
for index in "${!panels[@]}"; do
    read -r -a words <<<"${panels[$index]}"
    text=${words[-1]}
    colour=${words[-2]}
    name=${words[*]:0:${#words[@]}-2}
    x=0
    composites=()
    for size in "${tray_sizes[@]}"; do
        for icon in "${icons[@]}"; do
            composites+=("$tray/kivobar-$icon-symbolic-$size.png" -geometry "+$x+$(((height - size) / 2))" -composite)
            x=$((x + size + 6))
        done
        x=$((x + gap))
    done
    label "$name" "$text" "$colour" "$height" "$work/label-$index.png"
    convert -size "${x}x$height" "xc:$colour" "${composites[@]}" "$work/icons-$index.png"
    convert "$work/label-$index.png" "$work/icons-$index.png" +append "$work/strip-$index.png"
    strips+=("$work/strip-$index.png")
    colours+=("$colour")
done

# The app icon as launchers and software centres show it, on a light and a dark background.
app_height=$((128 + 2 * 12))
for pair in "light #f6f5f4 #2e3436" "dark #2e3436 #eeeeec"; do
    read -r tone colour text <<<"$pair"
    composites=()
    x=0
    for size in "${app_sizes[@]}"; do
        composites+=("$apps/${size}x$size/apps/io.kivo.KivoBar.png" -geometry "+$x+$(((app_height - size) / 2))" -composite)
        x=$((x + size + gap))
    done
    label "app icon" "$text" "$colour" "$app_height" "$work/label-app-$tone.png"
    convert -size "${x}x$app_height" "xc:$colour" "${composites[@]}" "$work/icons-app-$tone.png"
    convert "$work/label-app-$tone.png" "$work/icons-app-$tone.png" +append "$work/strip-app-$tone.png"
    strips+=("$work/strip-app-$tone.png")
    colours+=("$colour")
done

# Every strip as wide as the widest, in its own colour.
width=0
for strip in "${strips[@]}"; do
    strip_width=$(identify -format '%w' "$strip")
    if ((strip_width > width)); then width=$strip_width; fi
done
for index in "${!strips[@]}"; do
    convert "${strips[$index]}" -background "${colours[$index]}" -gravity west \
        -extent "${width}x$(identify -format '%h' "${strips[$index]}")" "${strips[$index]}"
done

# Without dates or other metadata, so that the same icons give the same file.
convert "${strips[@]}" -append +repage -scale "$((zoom * 100))%" \
    -depth 8 -strip -define png:exclude-chunks=date,time "$out"
