#!/bin/sh
# Checks the stand-in agent against what KivoBar relies on: the tool's commands, their exit
# statuses and last lines, and the status file the background agent keeps.
# usage: stand_in_agent_test.sh TOOL_DIR

set -u

tool_dir=${1:?usage: stand_in_agent_test.sh TOOL_DIR}
failures=0

fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

# For checks whose failure leaves nothing sensible to test after them.
die() {
    printf 'FAIL: %s\n' "$*"
    exit 1
}

tmp=$(mktemp -d) || die "cannot make a temporary directory"
home=
cleanup() {
    if [ -n "$home" ] && [ -x "$home/bin/kivo" ]; then
        rm -f -- "$home/fail-down"
        timeout 20 "$home/bin/kivo" down >/dev/null 2>&1
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP PIPE

# Polls a shell condition until it holds or 15 s (or $2 s) have passed.
wait_for() {
    deadline=$(($(date +%s) + ${2:-15}))
    while ! eval "$1"; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

last_line() {
    printf '%s\n' "$1" | sed -e '/^[[:space:]]*$/d' | sed -n '$p'
}

status_pid() {
    sed -n 's/^[[:space:]]*"pid": *\([0-9][0-9]*\),$/\1/p' "$home/run/status.json" 2>/dev/null
}

status_field() {
    sed -n "s/^[[:space:]]*\"$1\": *\\(.*\\),\$/\\1/p" "$home/run/status.json" 2>/dev/null
}

# Runs the tool as the app does: output on a pipe that is read to its end. The run counts as
# finished only when the reader has seen the end, so a descendant holding the pipe shows as a hang
# (rc 124) instead of hanging this test.
kivo() {
    rm -f "$tmp/rc" "$tmp/rc.part"
    {
        { timeout 20 "$home/bin/kivo" "$@" </dev/null 2>&1; echo $? >"$tmp/rc.part"; } | cat >"$tmp/out"
        mv "$tmp/rc.part" "$tmp/rc"
    } &
    if wait_for '[ -f "$tmp/rc" ]' 25; then
        rc=$(cat "$tmp/rc")
    else
        rc=124
    fi
    out=$(cat "$tmp/out")
}

# ---------------------------------------------------------------- a fresh home

home=$(sh "$tool_dir/make-home" "$tmp/home") || die "make-home failed"
[ "$home" = "$(cd "$tmp/home" && pwd -P)" ] || fail "make-home printed '$home'"
[ -x "$home/bin/kivo" ] || die "make-home did not install an executable bin/kivo"
[ -d "$home/run" ] && [ -d "$home/logs" ] || fail "make-home did not create run/ and logs/"
[ ! -e "$home/host" ] || fail "make-home without --set-up created host"

sh "$tool_dir/make-home" --set-up "$tmp/other" >/dev/null || fail "make-home --set-up failed"
[ -e "$tmp/other/host" ] || fail "make-home --set-up did not create host"
echo 9.9.9 >"$tmp/other/version"
sh "$tool_dir/make-home" --set-up "$tmp/other" >/dev/null || fail "make-home is not repeatable"
[ "$(cat "$tmp/other/version")" = 9.9.9 ] || fail "make-home run again lost the home's files"

# ---------------------------------------------------------------- commands before set-up

kivo frobnicate
[ "$rc" -ne 0 ] || fail "an unknown command exited 0"
[ "$(last_line "$out")" = "kivo: unknown command 'frobnicate'" ] || fail "unknown command said: $out"

kivo up
[ "$rc" -ne 0 ] || fail "up without host exited 0"
case $(last_line "$out") in *"kivo login"*) ;; *) fail "up without host said: $out" ;; esac
[ ! -e "$home/run/kivod.pid" ] || fail "up without host started the agent"

# Through a symlink, as a user's PATH might reach it.
ln -s "$home/bin/kivo" "$tmp/kivo-link"
out=$(cd "$tmp" && timeout 20 ./kivo-link login --browser </dev/null 2>&1)
rc=$?
[ "$rc" -eq 0 ] || fail "login --browser exited $rc: $out"
[ -e "$home/host" ] || fail "login --browser did not create host in the home"

# ---------------------------------------------------------------- the running agent

export KIVO_STAND_IN_INTERVAL=0.5
kivo up
[ "$rc" -ne 124 ] || die "up did not finish while its output was read to the end: $out"
[ "$rc" -eq 0 ] || die "up exited $rc: $out"
[ -f "$home/run/status.json" ] || die "up returned before the status file existed"
pid=$(status_pid)
[ -n "$pid" ] || die "status.json has no integer pid: $(cat "$home/run/status.json")"
kill -0 "$pid" 2>/dev/null || fail "the pid in status.json ($pid) is not alive"
[ "$(cat "$home/run/kivod.pid")" = "$pid" ] || fail "kivod.pid does not hold the status file's pid"

keys=$(sed -n 's/^[[:space:]]*"\([a-z_]*\)":.*/\1/p' "$home/run/status.json" | tr '\n' ' ')
[ "$keys" = "pid name version updated_at relays clients needs_you " ] ||
    fail "status.json keys are: $keys"
[ "$(status_field version)" = '"1.4.2"' ] || fail "default version is $(status_field version)"
[ "$(status_field relays)" = '["eu-1"]' ] || fail "default relays are $(status_field relays)"
[ "$(status_field clients)" = 1 ] || fail "default clients are $(status_field clients)"
grep -q '^[[:space:]]*"needs_you": \[\]$' "$home/run/status.json" || fail "needs_you is not []"
if command -v jq >/dev/null 2>&1; then
    jq -e '(.pid|type)=="number" and (.clients|type)=="number"' "$home/run/status.json" >/dev/null 2>&1 ||
        fail "status.json is not valid JSON with numeric pid and clients"
fi

stamp=$(status_field updated_at | tr -d '"')
case $stamp in
    [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z) ;;
    *) fail "updated_at '$stamp' is not an RFC 3339 UTC time" ;;
esac
age=$(($(date -u +%s) - $(date -u -d "$stamp" +%s 2>/dev/null || echo 0)))
[ "$age" -le 30 ] && [ "$age" -ge -5 ] || fail "updated_at is $age s old"

kivo up
[ "$rc" -eq 0 ] || fail "up while running exited $rc"
[ "$(status_pid)" = "$pid" ] || fail "up while running started another agent"

# The editable files are read again on every write.
printf 'us-2\n\n  we"ird\\relay  \n' >"$home/relays"
echo 3 >"$home/clients"
printf '[{"agent": "coder", "where": "repo \\"x\\"", "run": "r1"}]\n' >"$home/needs-you.json"
wait_for 'grep -q "\"r1\"" "$home/run/status.json"' || fail "needs-you.json never showed in status.json"
[ "$(status_field relays)" = '["us-2","we\"ird\\relay"]' ] ||
    fail "relays were not read or escaped: $(status_field relays)"
[ "$(status_field clients)" = 3 ] || fail "clients are $(status_field clients), want 3"
if command -v jq >/dev/null 2>&1; then
    [ "$(jq -r '.relays[1] + "|" + .needs_you[0].where' "$home/run/status.json" 2>/dev/null)" = 'we"ird\relay|repo "x"' ] ||
        fail "status.json with edited files does not decode as written: $(cat "$home/run/status.json")"
fi

: >"$home/relays"
wait_for '[ "$(status_field relays)" = "[]" ]' || fail "an empty relays file did not give []"

# Between writes with nothing changed, the log stays as it is.
# The stamps are read inside the wait_for conditions.
lines=$(wc -l <"$home/logs/kivod.log")
# shellcheck disable=SC2034
first=$(status_field updated_at)
wait_for '[ "$(status_field updated_at)" != "$first" ]' || fail "updated_at was not renewed"
# shellcheck disable=SC2034
second=$(status_field updated_at)
wait_for '[ "$(status_field updated_at)" != "$second" ]' || fail "updated_at was not renewed"
[ "$(wc -l <"$home/logs/kivod.log")" -eq "$lines" ] || fail "the log grows on every write"
grep -q 'started' "$home/logs/kivod.log" || fail "the log has no start line"

kivo update
[ "$rc" -eq 0 ] || fail "update exited $rc: $out"
[ "$(last_line "$out")" = "Updated to 1.4.3" ] || fail "update said: $out"
wait_for '[ "$(status_field version)" = "\"1.4.3\"" ]' || fail "the agent never reported version 1.4.3"

# ---------------------------------------------------------------- the failure hook

echo "error: the update server is unreachable" >"$home/fail-update"
kivo update
[ "$rc" -ne 0 ] || fail "update with fail-update exited 0"
[ "$(last_line "$out")" = "error: the update server is unreachable" ] || fail "failed update said: $out"
[ "$(cat "$home/version")" = 1.4.3 ] || fail "a failed update changed the version"
rm -f "$home/fail-update"

echo "error: cannot stop" >"$home/fail-down"
kivo down
[ "$rc" -ne 0 ] || fail "down with fail-down exited 0"
[ "$(last_line "$out")" = "error: cannot stop" ] || fail "failed down said: $out"
kill -0 "$pid" 2>/dev/null || fail "a failed down stopped the agent"
rm -f "$home/fail-down"

# ---------------------------------------------------------------- stopping

kivo down
[ "$rc" -eq 0 ] || fail "down exited $rc: $out"
[ "$(last_line "$out")" = "Kivo stopped" ] || fail "down said: $out"
! kill -0 "$pid" 2>/dev/null || fail "the agent (pid $pid) still runs after down"
[ -f "$home/run/status.json" ] || fail "down removed status.json"
[ "$(status_pid)" = "$pid" ] || fail "status.json no longer names the stopped agent"
grep -q 'stopped' "$home/logs/kivod.log" || fail "the log has no stop line"

kivo down
[ "$rc" -eq 0 ] || fail "down when stopped exited $rc"
[ "$(last_line "$out")" = "Kivo is not running" ] || fail "down when stopped said: $out"

echo "error: approval was refused" >"$home/fail-login"
rm -f "$home/host"
kivo login --browser
[ "$rc" -ne 0 ] || fail "login with fail-login exited 0"
[ "$(last_line "$out")" = "error: approval was refused" ] || fail "failed login said: $out"
[ ! -e "$home/host" ] || fail "a failed login created host"
rm -f "$home/fail-login"
kivo login --browser

# ---------------------------------------------------------------- terminal commands

kivo
[ "$rc" -eq 0 ] || fail "the dashboard exited $rc at end of input"
case $out in *stopped*1.4.3*) ;; *) fail "the dashboard did not show state and version: $out" ;; esac

"$home/bin/kivo" agent --on this watch 'tmux attach -t "s"' >"$tmp/watch.out" 2>&1 </dev/null &
watcher=$!
wait_for 'grep -q "Watching tmux attach -t \"s\"… (Ctrl-C to stop)" "$tmp/watch.out"' ||
    fail "agent watch said: $(cat "$tmp/watch.out")"
kill -0 "$watcher" 2>/dev/null || fail "agent watch did not stay in the foreground"
kill -TERM "$watcher" 2>/dev/null
wait_for '! kill -0 "$watcher" 2>/dev/null' || fail "agent watch did not end on TERM"

# ---------------------------------------------------------------- the record of runs

# Each run of the tool, a failed one too, is one line; the background agent that up starts is not a run.
export KIVO_STAND_IN_CALLS="$tmp/calls"
kivo up
echo "error: the update server is unreachable" >"$home/fail-update"
kivo update
rm -f "$home/fail-update"
kivo down
kivo login --browser
i=1
while [ "$i" -le 10 ]; do
    "$home/bin/kivo" frobnicate "$i" >/dev/null 2>&1 </dev/null &
    i=$((i + 1))
done
wait
unset KIVO_STAND_IN_CALLS
kivo update
[ "$(sed -n 1,4p "$tmp/calls" 2>/dev/null)" = "$(printf 'ARGS up\nARGS update\nARGS down\nARGS login --browser')" ] ||
    fail "the record of runs starts: $(sed -n 1,4p "$tmp/calls" 2>/dev/null | tr '\n' '|')"
[ "$(sed -n '5,$p' "$tmp/calls" 2>/dev/null | sort -n -k 3)" = "$(seq 1 10 | sed 's/^/ARGS frobnicate /')" ] ||
    fail "ten runs at once did not leave one whole line each: $(sed -n '5,$p' "$tmp/calls" | tr '\n' '|')"

# ---------------------------------------------------------------- an agent outliving its home

kivo up
[ "$rc" -eq 0 ] || fail "up after down exited $rc: $out"
pid=$(status_pid)
mv "$home" "$tmp/moved"
wait_for '! kill -0 "$pid" 2>/dev/null' || fail "the agent kept running after its home was removed"
mv "$tmp/moved" "$home"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "stand-in agent: all checks passed"
