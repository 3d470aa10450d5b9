#!/usr/bin/env bash
# Checks a KivoBar installed under ROOT with the prefix /usr, as a user's machine would have it: the
# programs run from there and find each other, and the desktop entry, the metainfo and the manual page
# pass their validators. Prints one line per failure; exits 1 when there was one.
# usage: check_installed.sh ROOT VERSION
set -uo pipefail

root=${1:?usage: check_installed.sh ROOT VERSION}
version=${2:?usage: check_installed.sh ROOT VERSION}
failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf -- "$tmp"' EXIT

kivobar=$root/usr/bin/kivobar
[ -x "$kivobar" ] || { fail "no executable $kivobar"; exit 1; }

# The two checks run with bounds so that a hanging program fails the test instead of stalling it.
out=$(timeout 60 "$kivobar" --version 2>&1)
[ "$out" = "kivobar $version" ] || fail "--version printed '$out', expected 'kivobar $version'"

mkdir "$tmp/empty-home"
out=$(KIVO_HOME=$tmp/empty-home timeout 60 "$kivobar" --status 2>"$tmp/stderr"; echo "exit $?")
[ "$out" = $'state: notSetUp\nexit 0' ] || fail "--status on an empty agent home printed '$out'"
[ ! -s "$tmp/stderr" ] || fail "--status wrote to standard error: $(cat "$tmp/stderr")"

# Without a session bus the tray process must say so: that proves kivobar found its installed
# kivobar-tray through the relative path from bin/ to the helpers' folder.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-bus" \
      KIVO_HOME=$tmp/empty-home timeout 60 "$kivobar" 2>&1 </dev/null; echo "exit $?")
case $out in
    *"no session bus"*$'\nexit 1') ;;
    *) fail "started without a session bus, kivobar printed: $out" ;;
esac

# An action finds the installed kivobar-act the same way, and with no tray on a bus it decides by itself.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-bus" \
      KIVO_HOME=$tmp/empty-home timeout 60 "$kivobar" pause 2>&1 </dev/null; echo "exit $?")
[ "$out" = $'kivobar: pause does not apply now: this computer is not set up\nexit 3' ] \
    || fail "kivobar pause on an empty agent home printed: $out"

schema=$root/usr/share/kivobar/kivobar-status.schema.json
python3 -m json.tool "$schema" >/dev/null 2>&1 || fail "no JSON schema of --status --json at $schema"

# Each shell finds its completion where it looks for a program's own, and takes it without complaint: bash
# without the bash-completion package's helpers.
bash_completion=$root/usr/share/bash-completion/completions/kivobar
out=$(bash --norc --noprofile -c 'source "$1" && complete -p kivobar' _ "$bash_completion" 2>&1)
[ "$out" = "complete -F _kivobar kivobar" ] || fail "bash completion $bash_completion: $out"
zsh_completion=$root/usr/share/zsh/vendor-completions/_kivobar
fish_completion=$root/usr/share/fish/vendor_completions.d/kivobar.fish
if ! head -n 1 "$zsh_completion" 2>/dev/null | grep -qx '#compdef kivobar'; then
    fail "no zsh completion at $zsh_completion"
elif command -v zsh >/dev/null; then
    out=$(zsh -n "$zsh_completion" 2>&1) || fail "zsh -n $zsh_completion: $out"
fi
if [ ! -f "$fish_completion" ]; then
    fail "no fish completion at $fish_completion"
elif command -v fish >/dev/null; then
    out=$(fish --no-execute "$fish_completion" 2>&1) || fail "fish --no-execute $fish_completion: $out"
fi

desktop=$root/usr/share/applications/io.kivo.KivoBar.desktop
metainfo=$root/usr/share/metainfo/io.kivo.KivoBar.metainfo.xml
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate $desktop: $out"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate $metainfo: $out"
# The tree check also finds the desktop entry that the metainfo names as its launchable.
out=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "appstreamcli validate-tree $root: $out"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo lists no release $version"

# The entry's Icon= must resolve in the hicolor theme, in whatever sizes and formats the icon comes.
icon=$(sed -n 's/^Icon=//p' "$desktop")
compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null || fail "no hicolor icon named '$icon'"

pages=("$root"/usr/share/man/man1/kivobar.1*)
page=${pages[0]}
if [ ! -f "$page" ]; then
    fail "no manual page kivobar(1)"
else
    # A machine with no locale set renders for a plain ASCII terminal, where a character groff has no
    # fallback for is a warning that a UTF-8 terminal never shows.
    for locale in C.UTF-8 C; do
        out=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) && [ -z "$out" ] \
            || fail "man --warnings -l $page in the $locale locale: $out"
    done
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep "KivoBar $version" >/dev/null || fail "the manual page names no version $version"
fi

exit $((failures > 0))
