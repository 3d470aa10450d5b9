#!/usr/bin/env bash
# Runs the real kivobar on a private desktop (X server, session bus, StatusNotifier watcher and a
# GTK tray host) against the stand-in agent, and reads and drives its tray over D-Bus as a panel
# does: the icon name, the rows of the exported menu, clicks on them, and what the agent does.
# usage: tray_test.sh BUILD_DIR SOURCE_DIR
# Prints a PASS or FAIL line per check and exits non-zero when any check failed.

set -u

if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
    echo "usage: tray_test.sh BUILD_DIR SOURCE_DIR" >&2
    exit 2
fi
build=$(cd -- "$1" && pwd -P)
source_dir=$(cd -- "$2" && pwd -P)
app=$build/app/kivobar

# shellcheck source=desktop.sh
source "$source_dir/tests/e2e/desktop.sh"

passed=0
failed=0
budget=200
budget_end=$((EPOCHSECONDS + budget))

pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}

# fail MESSAGE: also shows the menu as the panel sees it, when there is one to show.
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
    if [ -n "$TRAY_MENU" ]; then
        echo "  the menu now:"
        tray_menu_text 2>/dev/null
        echo "  IconName: $(tray_prop IconName 2>/dev/null)"
    fi
}

# check DESCRIPTION COMMAND...: PASS when COMMAND succeeds. When many checks fail each one waits out
# its deadline, so the whole run stops at its own budget, well before the test runner's timeout.
check() {
    local what=$1
    shift
    if "$@"; then
        pass "$what"
    else
        fail "$what"
    fi
    ((EPOCHSECONDS < budget_end)) || die "the run took longer than its $budget s"
}

finish() {
    if ((failed)); then
        echo "--- logs"
        desktop_logs
    fi
    echo "tray end-to-end: $passed passed, $failed failed"
    exit $((failed > 0))
}

# For a failure that leaves nothing sensible to check after it.
die() {
    fail "$*"
    finish
}

for tool in Xvfb dbus-daemon gdbus status-notifier-watcher gtk-sni-tray-standalone timeout; do
    command -v "$tool" >/dev/null || die "$tool is not installed (scripts/setup.sh installs it)"
done
[ -x "$app" ] || die "no $app: build the kivobar target first"

# The app finds its icons by name as an installed app does; the panel draws them by that name too.
export XDG_DATA_DIRS=$build/share:/usr/share
desktop_begin || die "the private X server and session bus did not start"

# ---------------------------------------------------------------- the agent

home=$DESKTOP_DIR/agent-home
"$source_dir/tools/stand-in-agent/make-home" --set-up "$home" >/dev/null || die "make-home failed"

# The agent runs detached from us, so it is stopped through its own tool at the end.
kivo() {
    timeout -k 2 30 "$home/bin/kivo" "$@" </dev/null >>"$DESKTOP_DIR/kivo-tool.log" 2>&1
}
desktop_on_end kivo down

agent_pid() {
    local pid
    pid=$(head -n 1 "$home/run/kivod.pid" 2>/dev/null) && [ -n "$pid" ] && desktop_alive "$pid" &&
        printf '%s\n' "$pid"
}

agent_running() {
    agent_pid >/dev/null
}

# ---------------------------------------------------------------- the app

# Without a network of its own the app's release checks fail at once and quietly, and no test
# run sends anything beyond this machine. The X and bus sockets are paths, so they still connect.
isolate=()
unshare --net true 2>/dev/null && isolate=(unshare --net)

start_app() {
    desktop_spawn kivobar "${isolate[@]}" env KIVO_HOME="$home" QT_QPA_PLATFORM=xcb \
        QT_LOGGING_RULES='qt.qpa.tray*=true' "$app"
    app_pid=$(desktop_pid kivobar)
}

app_alive() {
    desktop_alive "$app_pid"
}

app_registered() {
    app_alive && tray_find "$app_pid"
}

# Whether the app has a connection of its own on the session bus, which it opens as it starts.
app_on_bus() {
    local name
    while read -r name; do
        [[ $name == :* ]] && [ "$(desktop_name_pid "$name")" = "$app_pid" ] && return 0
    done < <(desktop_call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListNames 2>/dev/null |
        desktop_values)
    return 1
}

# The label of the first visible row under the root, as shown.
first_row() {
    local parent visible label
    while IFS=$'\t' read -r _ parent _ visible _ _ label; do
        if [ "$parent" = 0 ] && [ "$visible" = true ]; then
            printf '%s\n' "$label"
            return 0
        fi
    done < <(tray_menu)
    return 1
}

headline_is() {
    [ "$(first_row)" = "$1" ]
}

wait_headline() {
    desktop_wait "${2:-$DESKTOP_DEADLINE}" headline_is "$1"
}

# The revision of the menu's layout: it goes up whenever the app changes any row.
menu_revision() {
    desktop_call "$TRAY_BUS" "$TRAY_MENU" com.canonical.dbusmenu.GetLayout 0 0 '[]' | desktop_values | head -n 1
}

# The id of a row by its label, or "none", for comparing ids over time.
row_id() {
    tray_menu_id "$1" || echo none
}

online="Reachable from your devices · via eu-1"
paused="Kivo is paused: this computer is unreachable"
dashboard="Open the dashboard"

# ---------------------------------------------------------------- panel first, then the app

desktop_start_panel || die "the panel (watcher and host) did not start"
kivo up || die "the stand-in agent did not start: $(tail -n 3 "$DESKTOP_DIR/kivo-tool.log")"
first_agent=$(agent_pid) || die "the stand-in agent wrote no pid"

start_app
desktop_wait "$DESKTOP_DEADLINE" app_registered ||
    die "kivobar registers a tray item with the watcher (is it running: $(app_alive && echo yes || echo no))"
pass "kivobar registers a tray item with the watcher ($TRAY_BUS $TRAY_PATH, menu $TRAY_MENU)"

check "the headline reads \"$online\"" wait_headline "$online"
check "the icon is kivobar-online-symbolic while the agent is reachable" tray_wait_icon kivobar-online-symbolic
check "\"Pause Kivo\" is shown while the agent runs" tray_wait_row "Pause Kivo"
check "\"Resume Kivo\" is not shown while the agent runs" tray_menu_lacks "Resume Kivo"

# Over three refreshes of 3 s nothing about the agent changes, so no row may be touched: every
# change makes the panel read the whole menu again, and a rebuilt menu gets new ids.
headline_id=$(row_id "$online")
dashboard_id=$(row_id "$dashboard")
revision=$(menu_revision)
steady_until=$((EPOCHSECONDS + 9))
steady=yes
while ((EPOCHSECONDS < steady_until)); do
    if [ "$(row_id "$online")" != "$headline_id" ] || [ "$(row_id "$dashboard")" != "$dashboard_id" ]; then
        steady=no
        break
    fi
    sleep 0.5
done
[ "$headline_id" != none ] && [ "$dashboard_id" != none ] || steady=no
check "the rows keep their ids across refreshes (headline $headline_id, dashboard $dashboard_id)" [ "$steady" = yes ]
now_revision=$(menu_revision)
check "the menu is not touched while nothing changes (layout revision $revision, then $now_revision)" \
    [ "${revision:-none}" = "${now_revision:-unknown}" ]

# ---------------------------------------------------------------- pause

pause_id=$(row_id "Pause Kivo")
if [ "$pause_id" = none ]; then
    fail "clicking \"Pause Kivo\": there is no such row"
else
    tray_click "$pause_id"
    check "clicking \"Pause Kivo\" stops the agent (pid $first_agent)" desktop_wait 15 desktop_gone "$first_agent"
    check "the headline becomes \"$paused\"" wait_headline "$paused" 10
    check "\"Resume Kivo\" is shown once the agent is paused" tray_wait_row "Resume Kivo" 10
    check "\"Pause Kivo\" is gone once the agent is paused" tray_wait_no_row "Pause Kivo" 10
    check "the icon is kivobar-offline-symbolic while paused" tray_wait_icon kivobar-offline-symbolic 10
    check "the headline row keeps its id through the change ($headline_id)" \
        [ "$(row_id "$paused")" = "$headline_id" ]
    check "the dashboard row keeps its id through the change ($dashboard_id)" \
        [ "$(row_id "$dashboard")" = "$dashboard_id" ]
fi

# ---------------------------------------------------------------- a session waiting, and resume

# The second session's "_" and "&" must reach the panel as written, not as mnemonic marks.
cat >"$home/needs-you.json" <<'EOF'
[
  {"agent": "claude", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"},
  {"agent": "codex", "where": "~/src/my_app", "detail": "Build & deploy?", "run": "my_app-2"}
]
EOF
session="claude · ~/src/kivo — Wants to run the tests"
odd_session="codex · ~/src/my_app — Build & deploy?"

resume_id=$(row_id "Resume Kivo")
if [ "$resume_id" = none ]; then
    fail "clicking \"Resume Kivo\": there is no such row"
else
    tray_click "$resume_id"
    check "clicking \"Resume Kivo\" starts the agent again" desktop_wait 15 agent_running
    check "the headline is back to \"$online\"" wait_headline "$online"
fi
check "the icon is kivobar-needs-you-symbolic while a session waits" tray_wait_icon kivobar-needs-you-symbolic
check "\"Needs you\" is shown" tray_wait_row "Needs you"
check "the waiting session's row reads \"$session\"" tray_wait_row "$session"
check "\"_\" and \"&\" in a session's row reach the panel as written (\"$odd_session\")" \
    tray_wait_row "$odd_session" 5
check "the session's row can be picked" tray_row_enabled "$session"
check "the headline row keeps its id after the sessions came ($headline_id)" \
    [ "$(row_id "$online")" = "$headline_id" ]
check "the dashboard row keeps its id after the sessions came ($dashboard_id)" \
    [ "$(row_id "$dashboard")" = "$dashboard_id" ]

# The session goes: the icon falls back to the state's own.
printf '[]\n' >"$home/needs-you.json"
check "the icon falls back to kivobar-online-symbolic once no session waits" tray_wait_icon kivobar-online-symbolic
check "\"Needs you\" is gone once no session waits" tray_wait_no_row "Needs you"

# ---------------------------------------------------------------- the panel restarts

desktop_stop_panel || fail "the panel did not stop"
desktop_start_panel || die "the panel did not start again"
check "kivobar outlives its panel" app_alive
if desktop_wait "$DESKTOP_DEADLINE" app_registered; then
    pass "kivobar registers again when the panel comes back"
    check "the menu reads \"$online\" after the panel came back" wait_headline "$online"
    check "the icon is kivobar-online-symbolic after the panel came back" tray_wait_icon kivobar-online-symbolic
else
    fail "kivobar registers again when the panel comes back"
fi

# ---------------------------------------------------------------- quit

quit_id=$(row_id "Quit Kivo Bar")
if [ "$quit_id" = none ]; then
    fail "clicking \"Quit Kivo Bar\": there is no such row"
else
    tray_click "$quit_id"
    check "clicking \"Quit Kivo Bar\" ends kivobar" desktop_wait 10 desktop_gone "$app_pid"
fi
desktop_stop kivobar
check "the agent keeps running after kivobar quits" agent_running
TRAY_MENU=

# ---------------------------------------------------------------- the app first, then the panel

# At login the app may start before the panel. Qt settles on a tray protocol once, when the app
# makes its tray icon, so an app that makes it before a panel is there never shows up over D-Bus.
desktop_stop_panel || fail "the panel did not stop"
start_app
if desktop_wait "$DESKTOP_DEADLINE" app_on_bus; then
    # Let the app finish starting, so that the panel really comes after it.
    sleep 2
    check "kivobar keeps running while there is no panel" app_alive
    desktop_start_panel || die "the panel did not start after the app"
    if desktop_wait "$DESKTOP_DEADLINE" app_registered; then
        pass "kivobar started before the panel registers once the panel comes"
        check "its menu reads \"$online\"" wait_headline "$online"
        check "its icon is kivobar-online-symbolic" tray_wait_icon kivobar-online-symbolic
    else
        fail "kivobar started before the panel registers once the panel comes"
    fi
else
    fail "kivobar started before the panel connects to the session bus (is it running: $(app_alive && echo yes || echo no))"
fi

finish
