#!/usr/bin/env bash
# Takes a picture of KivoBar's open tray menu on a private desktop: the stand-in agent runs with one
# session waiting, a GTK panel shows KivoBar's icon, and a right click on it opens the menu that
# KivoBar exports over D-Bus. Nothing of the user's own desktop is touched.
# usage: scripts/screenshot.sh BUILD_DIR OUT.png     (e.g. scripts/screenshot.sh build docs/screenshot.png)

set -u

if [ $# -ne 2 ] || [ ! -d "$1" ]; then
    echo "usage: scripts/screenshot.sh BUILD_DIR OUT.png" >&2
    exit 2
fi
build=$(cd -- "$1" && pwd -P)
out=$2
root=$(cd -- "$(dirname -- "$0")/.." && pwd -P)
app=$build/app/kivobar

source "$root/tests/e2e/desktop.sh"

die() {
    echo "screenshot: $*" >&2
    [ -n "$DESKTOP_DIR" ] && desktop_logs >&2
    exit 1
}

for tool in Xvfb dbus-daemon gdbus status-notifier-watcher gtk-sni-tray-standalone xdotool xwininfo import convert display; do
    command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh installs it)"
done
[ -x "$app" ] || die "no $app: build it first"

# The panel draws the icon by its theme name, as it would for an installed app.
export XDG_DATA_DIRS=$build/share:/usr/share
DESKTOP_SCREEN=800x600x24
desktop_begin || die "the private X server and session bus did not start"

# A plain desktop background, so that the menu's edges show. display sets it and exits, with
# status 1 even when it worked, so only the picture tells.
convert -size 800x600 'gradient:#5b7c99-#2b4257' "$DESKTOP_DIR/background.png" 2>/dev/null &&
    timeout 10 display -window root "$DESKTOP_DIR/background.png" 2>/dev/null

home=$DESKTOP_DIR/agent-home
"$root/tools/stand-in-agent/make-home" --set-up "$home" >/dev/null || die "make-home failed"
cat >"$home/needs-you.json" <<'EOF'
[{"agent": "claude", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
EOF
timeout 30 "$home/bin/kivo" up >/dev/null 2>&1 || die "the stand-in agent did not start"
stop_agent() {
    timeout 30 "$home/bin/kivo" down >/dev/null 2>&1
}
desktop_on_end stop_agent

# A dark bar with the tray at its right end, as on most desktops.
desktop_start_panel --end --color '#2e3436' || die "the panel did not start"

# No network for the app: its release checks fail quietly instead of reaching out.
isolate=()
unshare --net true 2>/dev/null && isolate=(unshare --net)
desktop_spawn kivobar "${isolate[@]}" env KIVO_HOME="$home" QT_QPA_PLATFORM=xcb "$app"
app_pid=$(desktop_pid kivobar)
desktop_wait "$DESKTOP_DEADLINE" tray_find "$app_pid" || die "kivobar did not register its tray item"
tray_wait_icon kivobar-needs-you-symbolic || die "the icon never showed the waiting session"
tray_wait_row "Needs you" || die "the menu never listed the waiting session"

# "WIDTHxHEIGHT+X+Y" of a window, from xwininfo.
geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /Width:/ { w = $NF }
        /Height:/ { h = $NF }
        /Map State: IsViewable/ { viewable = 1 }
        END { if (viewable) printf "%dx%d+%d+%d\n", w, h, x, y }'
}

host_windows() {
    xdotool search --onlyvisible --pid "$(desktop_pid host)" 2>/dev/null
}

# The bar is the host's widest window.
bar=
bar_width=0
for window in $(host_windows); do
    g=$(geometry "$window")
    w=${g%%x*}
    [ -n "$g" ] && ((w > bar_width)) && bar=$window bar_width=$w bar_geometry=$g
done
[ -n "$bar" ] || die "the panel has no window"
IFS='x+' read -r bar_w bar_h bar_x bar_y <<<"$bar_geometry"

# The only icon sits at the bar's right end, a square as high as the bar.
icon_x=$((bar_x + bar_w - bar_h / 2))
icon_y=$((bar_y + bar_h / 2))

menu_geometry=
# The menu is a window of the host's that is taller than the bar.
find_menu() {
    local window g w h
    for window in $(host_windows); do
        [ "$window" = "$bar" ] && continue
        g=$(geometry "$window")
        [ -n "$g" ] || continue
        IFS='x+' read -r w h _ _ <<<"$g"
        if ((h > bar_h)); then
            menu_geometry=$g
            return 0
        fi
    done
    return 1
}

# gtk-sni-tray opens the item's menu on the right button; the left one asks the app to activate.
xdotool mousemove --sync "$icon_x" "$icon_y" click 3 || die "xdotool could not click"
desktop_wait 10 find_menu || die "no menu opened on a right click at $icon_x,$icon_y"
IFS='x+' read -r _ menu_h menu_x menu_y <<<"$menu_geometry"
# GTK maps the popup before it has drawn every row into it.
sleep 0.5

# The bar's right part and the whole menu, with a margin.
margin=24
left=$((menu_x - margin < icon_x - bar_h - margin ? menu_x - margin : icon_x - bar_h - margin))
((left < 0)) && left=0
right=$((bar_x + bar_w))
bottom=$((menu_y + menu_h + margin))
mkdir -p -- "$(dirname -- "$out")"
import -window root -crop "$((right - left))x${bottom}+${left}+0" +repage -strip "$out" ||
    die "import could not take the picture"
echo "screenshot: wrote $out ($((right - left))x$bottom)"
