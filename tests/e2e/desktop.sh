# A private Linux desktop for end-to-end tests, and the reads and clicks a panel makes on a tray.
# Source it from bash:
#
#   source tests/e2e/desktop.sh
#   desktop_begin                 # temp dir, X server, session bus; cleans up on exit
#   desktop_start_panel           # StatusNotifier watcher, then a host (the panel)
#   desktop_spawn app my-program  # anything else to stop at the end
#   tray_find "$app_pid"          # TRAY_BUS, TRAY_PATH, TRAY_MENU of that process's item
#   tray_click "$(tray_menu_id 'Pause Kivo')"
#
# Every wait is bounded (DESKTOP_DEADLINE seconds unless told) and polls; nothing sleeps blindly.
# Only processes started here are stopped, by their pid. Logs are in $DESKTOP_DIR/*.log; set
# DESKTOP_KEEP=1 to keep the directory after the end.
# The panel's programs come from Debian: xvfb, dbus, haskell-status-notifier-item-utils,
# haskell-gtk-sni-tray-utils, libglib2.0-bin (gdbus).

DESKTOP_LIB_DIR=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)
DESKTOP_DEADLINE=${DESKTOP_DEADLINE:-20}
DESKTOP_DIR=
declare -A DESKTOP_PID=()
DESKTOP_ORDER=()
DESKTOP_CLEANUPS=()
TRAY_BUS=
TRAY_PATH=
TRAY_MENU=

desktop_note() {
    printf '%s\n' "$*" >&2
}

# ---------------------------------------------------------------- waiting and processes

# desktop_wait SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; 1 when time runs out.
desktop_wait() {
    local deadline=$((EPOCHSECONDS + $1))
    shift
    while :; do
        "$@" && return 0
        ((EPOCHSECONDS < deadline)) || return 1
        sleep 0.2
    done
}

desktop_alive() {
    [ -n "${1:-}" ] || return 1
    kill -0 "$1" 2>/dev/null || return 1
    # A child that has exited but is not reaped yet still answers kill -0.
    [[ $(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) != Z ]]
}

desktop_gone() {
    ! desktop_alive "$1"
}

# desktop_track NAME PID: stop PID (started by the caller) at the end, and by desktop_stop NAME.
desktop_track() {
    DESKTOP_PID[$1]=$2
    DESKTOP_ORDER+=("$1")
}

# desktop_spawn NAME COMMAND...: starts COMMAND in the background, output to $DESKTOP_DIR/NAME.log.
desktop_spawn() {
    local name=$1
    shift
    "$@" </dev/null >>"$DESKTOP_DIR/$name.log" 2>&1 &
    desktop_track "$name" "$!"
}

desktop_pid() {
    printf '%s\n' "${DESKTOP_PID[$1]:-}"
}

# desktop_stop NAME: TERM, then KILL after 5 s; returns once the process is gone.
desktop_stop() {
    local pid=${DESKTOP_PID[$1]:-}
    unset "DESKTOP_PID[$1]"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null
    if ! desktop_wait 5 desktop_gone "$pid"; then
        desktop_note "desktop: $1 (pid $pid) ignored TERM; killing it"
        kill -KILL "$pid" 2>/dev/null
        desktop_wait 5 desktop_gone "$pid"
    fi
    wait "$pid" 2>/dev/null
    return 0
}

# desktop_on_end COMMAND...: runs COMMAND at the end, before the processes are stopped (last added first).
desktop_on_end() {
    local quoted
    printf -v quoted '%q ' "$@"
    DESKTOP_CLEANUPS+=("$quoted")
}

desktop_end() {
    local i name
    for ((i = ${#DESKTOP_CLEANUPS[@]} - 1; i >= 0; i--)); do
        eval "${DESKTOP_CLEANUPS[i]}" || true
    done
    DESKTOP_CLEANUPS=()
    for ((i = ${#DESKTOP_ORDER[@]} - 1; i >= 0; i--)); do
        name=${DESKTOP_ORDER[i]}
        [ -n "${DESKTOP_PID[$name]:-}" ] && desktop_stop "$name"
    done
    DESKTOP_ORDER=()
    if [ -n "$DESKTOP_DIR" ] && [ -d "$DESKTOP_DIR" ]; then
        if [ "${DESKTOP_KEEP:-0}" = 1 ]; then
            desktop_note "desktop: kept $DESKTOP_DIR"
        else
            rm -rf -- "$DESKTOP_DIR"
        fi
    fi
    DESKTOP_DIR=
}

# desktop_logs: the tail of every log, for a failure report.
desktop_logs() {
    local log
    for log in "$DESKTOP_DIR"/*.log; do
        [ -s "$log" ] || continue
        printf -- '--- %s\n' "${log##*/}"
        tail -n 30 -- "$log"
    done
}

# ---------------------------------------------------------------- the session: X and D-Bus

# desktop_begin: a temporary directory with private XDG directories, an X server (DISPLAY) and a
# session bus (DBUS_SESSION_BUS_ADDRESS), all exported; everything is undone when the shell exits.
desktop_begin() {
    DESKTOP_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kivo-desktop.XXXXXX") || return 1
    trap desktop_end EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    mkdir -m 0700 "$DESKTOP_DIR/runtime" &&
        mkdir "$DESKTOP_DIR/config" "$DESKTOP_DIR/cache" "$DESKTOP_DIR/data" || return 1
    export XDG_RUNTIME_DIR=$DESKTOP_DIR/runtime XDG_CONFIG_HOME=$DESKTOP_DIR/config \
        XDG_CACHE_HOME=$DESKTOP_DIR/cache XDG_DATA_HOME=$DESKTOP_DIR/data
    # GTK would otherwise start the accessibility bus and a settings daemon that outlive the test.
    export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
    unset WAYLAND_DISPLAY
    desktop_start_x && desktop_start_bus
}

desktop_display_ready() {
    desktop_alive "$(desktop_pid xvfb)" && [[ $(<"$DESKTOP_DIR/display") =~ ^[0-9]+$ ]]
}

desktop_start_x() {
    : >"$DESKTOP_DIR/display"
    # -displayfd lets the server pick a free display number and write it once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "${DESKTOP_SCREEN:-1024x768x24}" -nolisten tcp -noreset \
        3>"$DESKTOP_DIR/display" </dev/null >>"$DESKTOP_DIR/xvfb.log" 2>&1 &
    desktop_track xvfb "$!"
    if ! desktop_wait "$DESKTOP_DEADLINE" desktop_display_ready; then
        desktop_note "desktop: Xvfb did not start"
        return 1
    fi
    DISPLAY=:$(<"$DESKTOP_DIR/display")
    export DISPLAY
}

desktop_bus_ready() {
    desktop_alive "$(desktop_pid bus)" && [[ $(<"$DESKTOP_DIR/bus-address") == unix:* ]]
}

desktop_start_bus() {
    # No service directories: nothing is started on demand, so nothing outlives the bus.
    cat >"$DESKTOP_DIR/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$DESKTOP_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    : >"$DESKTOP_DIR/bus-address"
    dbus-daemon --config-file="$DESKTOP_DIR/bus.conf" --nofork --print-address=3 \
        3>"$DESKTOP_DIR/bus-address" </dev/null >>"$DESKTOP_DIR/bus.log" 2>&1 &
    desktop_track bus "$!"
    if ! desktop_wait "$DESKTOP_DEADLINE" desktop_bus_ready; then
        desktop_note "desktop: dbus-daemon did not start"
        return 1
    fi
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$DESKTOP_DIR/bus-address")
    export DBUS_SESSION_BUS_ADDRESS
}

# ---------------------------------------------------------------- D-Bus calls

# desktop_call DEST PATH INTERFACE.METHOD ARGS...: gdbus call on the session bus, bounded.
# gdbus reads an argument that starts with "-" as an option: put "--" before a negative number.
desktop_call() {
    local dest=$1 path=$2 method=$3
    shift 3
    timeout -k 2 15 gdbus call --session --timeout 10 --dest "$dest" --object-path "$path" \
        --method "$method" "$@"
}

# Reads gdbus's reply on standard input; prints its scalars, one a line.
desktop_values() {
    awk -v mode=values -f "$DESKTOP_LIB_DIR/gvariant.awk"
}

desktop_get() {
    desktop_call "$1" "$2" org.freedesktop.DBus.Properties.Get "$3" "$4" | desktop_values
}

desktop_has_name() {
    [[ $(desktop_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null |
        desktop_values) == true ]]
}

desktop_name_pid() {
    desktop_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        "$1" 2>/dev/null | desktop_values
}

# ---------------------------------------------------------------- the panel

desktop_watcher() {
    desktop_get org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher "$1" 2>/dev/null
}

desktop_host_registered() {
    [[ $(desktop_watcher IsStatusNotifierHostRegistered) == true ]]
}

desktop_panel_gone() {
    ! desktop_has_name org.kde.StatusNotifierWatcher
}

# desktop_start_panel [HOST OPTION...]: the StatusNotifier watcher, then a host (a GTK tray bar along
# the top of the screen, given the options of gtk-sni-tray-standalone); returns once the watcher
# reports the host. The host starts after the watcher, not with
# its own -w, which races the watcher's start.
desktop_start_panel() {
    desktop_spawn watcher status-notifier-watcher
    if ! desktop_wait "$DESKTOP_DEADLINE" desktop_has_name org.kde.StatusNotifierWatcher; then
        desktop_note "desktop: the StatusNotifier watcher did not come up"
        return 1
    fi
    desktop_spawn host gtk-sni-tray-standalone --top --size 30 "$@"
    if ! desktop_wait "$DESKTOP_DEADLINE" desktop_host_registered; then
        desktop_note "desktop: the tray host did not register with the watcher"
        return 1
    fi
}

# desktop_stop_panel: host first, then the watcher; returns once the watcher's name is free.
desktop_stop_panel() {
    desktop_stop host
    desktop_stop watcher
    desktop_wait "$DESKTOP_DEADLINE" desktop_panel_gone
}

# ---------------------------------------------------------------- the tray item

# tray_items: one "BUS PATH" line per item the watcher lists.
tray_items() {
    local entries=() pairs=() entry i path
    mapfile -t entries < <(desktop_watcher RegisteredStatusNotifierItems)
    for entry in "${entries[@]}"; do
        [ -n "$entry" ] || continue
        if [[ $entry == */* ]]; then
            # The usual form, BUSNAME/PATH.
            printf '%s /%s\n' "${entry%%/*}" "${entry#*/}"
            continue
        fi
        # This watcher lists bare bus names and keeps the paths in RegisteredSNIEntries.
        ((${#pairs[@]})) || mapfile -t pairs < <(desktop_watcher RegisteredSNIEntries)
        path=/StatusNotifierItem
        for ((i = 0; i + 1 < ${#pairs[@]}; i += 2)); do
            [ "${pairs[i]}" = "$entry" ] && path=${pairs[i + 1]} && break
        done
        printf '%s %s\n' "$entry" "$path"
    done
}

# tray_find [PID]: sets TRAY_BUS, TRAY_PATH and TRAY_MENU to the item of process PID (any item
# without PID); 1 when there is none.
tray_find() {
    local bus path
    while read -r bus path; do
        if [ -z "${1:-}" ] || [ "$(desktop_name_pid "$bus")" = "$1" ]; then
            TRAY_BUS=$bus
            TRAY_PATH=$path
            TRAY_MENU=$(tray_prop Menu 2>/dev/null)
            [ -n "$TRAY_MENU" ] && return 0
        fi
    done < <(tray_items)
    return 1
}

# tray_prop NAME: a property of the found item (IconName, Status, Menu, ...), as text. One at a
# time: GetAll would bring the icon pixmaps, hundreds of kilobytes of text from gdbus.
tray_prop() {
    desktop_get "$TRAY_BUS" "$TRAY_PATH" org.kde.StatusNotifierItem "$1"
}

# ---------------------------------------------------------------- the item's menu

# tray_menu: the exported menu, one item a line:
#   id TAB parent-id TAB type TAB visible TAB enabled TAB toggle-state TAB label (as shown)
# The first line is the root (id 0); toggle-state is "-" on rows that have none.
tray_menu() {
    local reply
    reply=$(desktop_call "$TRAY_BUS" "$TRAY_MENU" com.canonical.dbusmenu.GetLayout 0 -- -1 '[]') || return 1
    awk -v mode=layout -f "$DESKTOP_LIB_DIR/gvariant.awk" <<<"$reply"
}

# tray_menu_text: the visible rows as a person reads them, for messages.
tray_menu_text() {
    local id parent type visible enabled toggle label
    while IFS=$'\t' read -r id parent type visible enabled toggle label; do
        [ "$parent" = -1 ] || [ "$visible" = false ] && continue
        if [ "$type" = separator ]; then
            printf '    ----\n'
        else
            printf "    [%s] %s" "$id" "$label"
            [ "$toggle" = - ] || printf " (toggle %s)" "$toggle"
            [ "$enabled" = false ] && printf " (disabled)"
            printf "\n"
        fi
    done < <(tray_menu)
}

# tray_rows_id LABEL: reads a tray_menu table; prints the id of the visible row with that label
# (mnemonics ignored); 1 if there is none.
tray_rows_id() {
    local id parent type visible enabled toggle label
    while IFS=$'\t' read -r id parent type visible enabled toggle label; do
        if [ "$visible" = true ] && [ "$label" = "$1" ]; then
            printf '%s\n' "$id"
            return 0
        fi
    done
    return 1
}

# tray_menu_id LABEL: the id of the visible row with that label; 1 if there is none.
tray_menu_id() {
    tray_menu | tray_rows_id "$1"
}

tray_menu_has() {
    tray_menu_id "$1" >/dev/null
}

tray_menu_lacks() {
    local menu
    menu=$(tray_menu) || return 1
    ! tray_rows_id "$1" >/dev/null <<<"$menu"
}

# tray_row_enabled LABEL: whether the visible row with that label can be picked.
tray_row_enabled() {
    local id parent type visible enabled toggle label
    while IFS=$'\t' read -r id parent type visible enabled toggle label; do
        [ "$visible" = true ] && [ "$label" = "$1" ] && [ "$enabled" = true ] && return 0
    done < <(tray_menu)
    return 1
}

# tray_click ID: picks the row as a panel does.
tray_click() {
    desktop_call "$TRAY_BUS" "$TRAY_MENU" com.canonical.dbusmenu.Event "$1" clicked '<int32 0>' 0 >/dev/null
}

# tray_wait_row LABEL [SECONDS]: until a visible row has that label.
tray_wait_row() {
    desktop_wait "${2:-$DESKTOP_DEADLINE}" tray_menu_has "$1"
}

# tray_wait_no_row LABEL [SECONDS]: until no visible row has that label.
tray_wait_no_row() {
    desktop_wait "${2:-$DESKTOP_DEADLINE}" tray_menu_lacks "$1"
}

tray_icon_is() {
    [ "$(tray_prop IconName 2>/dev/null)" = "$1" ]
}

# tray_wait_icon NAME [SECONDS]: until the item's IconName is NAME.
tray_wait_icon() {
    desktop_wait "${2:-$DESKTOP_DEADLINE}" tray_icon_is "$1"
}
