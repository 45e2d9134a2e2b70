#!/bin/bash
# The Windows installer under Wine, as a user meets it, in fresh Wine prefixes of its own on a
# virtual display:
#  1. the installer started without /S shows its first page (screenshot);
#  2. a silent install for the current user: the installed files are the package's, the uninstall
#     entry in the user's registry, the Start-menu and desktop shortcuts, no replay association;
#     the installed "velt.exe demo" runs to its end; the installed "veltplayer.exe --demo",
#     started in its folder as the Start menu starts it, shows its main window (screenshot after
#     Connect) and a click on Window Mode writes VELT.ini into %APPDATA%\VELTPlayer; a silent
#     uninstall leaves nothing of ours but those settings;
#  3. a silent install for every user with the replay association over the game's own, and
#     without the desktop shortcut; its silent uninstall with /RemoveSettings gives the game its
#     association back and removes the settings too.
# Shortcuts and associations stay inside the prefix: Wine's menu builder is switched off and the
# home folder is the run's own. Everything started is stopped at the end.
#
# Needs: wine, wine64, xvfb, xdotool, imagemagick, and the windows build with the desktop client
# (its gui_layout_probe.exe tells where Window Mode is).
# Usage: scripts/check-windows-installer.sh INSTALLER.exe [SCREENSHOT_DIR]
#        (the installer made by "cpack -G NSIS" in the windows build folder; screenshots go to
#        SCREENSHOT_DIR, by default the installer's folder)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
INSTALLER=$(realpath "$1")
BUILD=$(dirname "$INSTALLER")
SHOTS=$(realpath "${2:-$BUILD}")
# The files that CPack packed: the installer's own list.
STAGE="$BUILD/_CPack_Packages/win64/NSIS/$(basename "$INSTALLER" .exe)"
PROBE="$BUILD/tests/app/gui_layout_probe.exe"
WAIT_S=120 # for a window or a program, on a loaded machine
for tool in wine wineserver winepath Xvfb xdotool import strings; do
    command -v "$tool" >/dev/null || { echo "check-windows-installer: needs $tool" >&2; exit 1; }
done
[ -d "$STAGE" ] || { echo "check-windows-installer: no CPack staging folder $STAGE" >&2; exit 1; }
[ -f "$PROBE" ] || { echo "check-windows-installer: no $PROBE (build the windows preset)" >&2; exit 1; }

# shellcheck source=scripts/wine-display.sh
. "$ROOT/scripts/wine-display.sh"
fail() {
    echo "check-windows-installer: FAILED: $*" >&2
    exit 1
}
step() { echo "-- $*"; }

export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
export HOME="$WORK/home"
mkdir -p "$HOME"

# A fresh prefix with its server, and the Windows folders the steps look at.
new_prefix() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    export WINEPREFIX="$WORK/$1"
    mkdir -p "$WINEPREFIX"
    (wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 || fail "no Wine prefix"
}
windows_variable() { wine cmd /c echo "%$1%" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
# A value of a registry key, as "reg query" prints it; empty when there is none.
reg_value() {
    wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_default() {
    wine reg query "$1" /ve </dev/null 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *(Default) *REG_[A-Z_]* *//p'
}
reg_has_key() { wine reg query "$1" </dev/null >/dev/null 2>&1; }
# What a shortcut points at, as text (its paths are stored as UTF-16).
shortcut_text() { strings --encoding=l "$1" | tr '\n' ' '; }
# The files below a folder, relative to it, sorted.
file_list() { (cd "$1" && find . -type f | LC_ALL=C sort); }
# Runs an uninstaller to its end. It goes on in a copy of itself and returns at once, so the
# wait is for every process of the prefix to end, with a server that is not kept running.
uninstall() {
    local log=$1
    shift
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wine "$@" </dev/null >"$log" 2>&1 || return 1
    timeout "$WAIT_S" wineserver -w
}
await_window() {
    local name=$1 window="" i
    for ((i = 0; i < WAIT_S * 2; i++)); do
        window=$(xdotool search --name "$name" 2>/dev/null | head -n1) || true
        [ -n "$window" ] && { echo "$window"; return 0; }
        sleep 0.5
    done
    return 1
}
# Wine's windows read back black; the screen at their place holds what they drew.
screenshot() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2" || fail "no screenshot $2"
    echo "screenshot: $2"
}

step "the installer's first page"
new_prefix wine-gui
wine "$INSTALLER" </dev/null >"$WORK/installer-gui.log" 2>&1 &
WINDOW=$(await_window '^VELTPlayer Setup$') || fail "the installer's window did not appear"
sleep 2 # its page is drawn after the window maps
screenshot "$WINDOW" "$SHOTS/installer-first-page.png"
wineserver -k 2>/dev/null || true

step "silent install for the current user"
new_prefix wine-user
APPDATA_DIR=$(unix_path "$(windows_variable APPDATA)")
START_MENU="$APPDATA_DIR/Microsoft/Windows/Start Menu/Programs"
DESKTOP=$(unix_path "$(windows_variable USERPROFILE)\\Desktop")
wine "$INSTALLER" /S </dev/null >"$WORK/install.log" 2>&1 || fail "the silent install failed"
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VELTPlayer'
INSTDIR_WIN=$(reg_value "$KEY" InstallLocation)
[ -n "$INSTDIR_WIN" ] || fail "no uninstall entry under $KEY"
INSTDIR=$(unix_path "$INSTDIR_WIN")
echo "installed in $INSTDIR_WIN"
[ "$INSTDIR_WIN" = "$(windows_variable LOCALAPPDATA)\\Programs\\VELTPlayer" ] ||
    fail "not in the user's programs folder: $INSTDIR_WIN"

step "installed files against the package's list"
diff <( (file_list "$STAGE"; echo ./Uninstall.exe) | LC_ALL=C sort) <(file_list "$INSTDIR") ||
    fail "the installed files differ from the package's list"
diff -r -x Uninstall.exe "$STAGE" "$INSTDIR" >/dev/null || fail "an installed file differs from the package's"
echo "$(file_list "$INSTDIR" | wc -l) files"

step "the uninstall entry in the user's registry"
for pair in "DisplayName=VELTPlayer" "DisplayVersion=0.4" "Publisher=The VELTPlayer developers" \
    "DisplayIcon=$INSTDIR_WIN\\veltplayer.exe,0" "UninstallString=\"$INSTDIR_WIN\\Uninstall.exe\""; do
    actual=$(reg_value "$KEY" "${pair%%=*}")
    [ "$actual" = "${pair#*=}" ] || fail "${pair%%=*} is '$actual', not '${pair#*=}'"
done
reg_has_key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VELTPlayer' &&
    fail "a per-user install wrote the computer's uninstall entry"
for root in HKCU HKLM; do
    reg_has_key "$root\\Software\\Classes\\VELTPlayer.Replay" && fail "replays were associated unasked"
done

step "Start-menu and desktop shortcuts"
for lnk in "$START_MENU/VELTPlayer.lnk" "$START_MENU/VELTPlayer Tools/VELTPlayer demo.lnk" \
    "$START_MENU/VELTPlayer Tools/Stand-in match server.lnk" "$DESKTOP/VELTPlayer.lnk"; do
    [ -f "$lnk" ] || fail "no shortcut $lnk"
done
shortcut_text "$START_MENU/VELTPlayer.lnk" | grep -qiF "$INSTDIR_WIN\\veltplayer.exe" ||
    fail "the Start-menu entry does not start veltplayer.exe"
shortcut_text "$START_MENU/VELTPlayer Tools/VELTPlayer demo.lnk" | grep -qF -- "--demo" ||
    fail "the demo entry does not start the demo"

step "the installed velt.exe demo, to its end"
"$ROOT/tests/cli/check-demo.sh" wine "$INSTDIR/velt.exe" >"$WORK/demo.log" 2>&1 ||
    { tail -n 30 "$WORK/demo.log" >&2; fail "the installed velt.exe demo"; }
grep -F "The match is over and the session has ended" "$WORK/demo.log" | head -n1

step "the installed veltplayer.exe --demo, started in its folder"
(cd "$INSTDIR" && exec wine ./veltplayer.exe --demo) </dev/null >"$WORK/veltplayer.log" 2>&1 &
WINDOW=$(await_window '^VELT BETA 0\.4$') ||
    { cat "$WORK/veltplayer.log" >&2; fail "the main window did not appear"; }
(cd "$WORK" && wine "$PROBE") </dev/null >"$WORK/layout" 2>/dev/null
at() { tr -d '\r' <"$WORK/layout" | grep -m1 "^$1 " | cut -d' ' -f2-; }
click() {
    local xy
    read -r -a xy <<<"$(at "$1")"
    [ "${#xy[@]}" = 2 ] || fail "no place for $1 in the layout"
    xdotool mousemove --sync --window "$WINDOW" "${xy[0]}" "${xy[1]}" click 1
}
click connect
sleep 3 # the demo's matches come from loopback
screenshot "$WINDOW" "$SHOTS/installed-client-wine.png"
click windowmode
SETTINGS="$APPDATA_DIR/VELTPlayer"
for ((i = 0; i < WAIT_S * 10; i++)); do
    grep -qs '^windowmode=1' "$SETTINGS/VELT.ini" && break
    sleep 0.1
done
grep -qs '^windowmode=1' "$SETTINGS/VELT.ini" || fail "Window Mode was not saved in $SETTINGS"
[ -e "$INSTDIR/VELT.ini" ] && fail "the settings were written into the program's folder"
echo "settings: $(ls "$SETTINGS" | tr '\n' ' ')"

step "silent uninstall: only the settings are left"
uninstall "$WORK/uninstall.log" "$INSTDIR/Uninstall.exe" /S || fail "the silent uninstall failed"
[ -e "$INSTDIR" ] && fail "the program folder is left: $(file_list "$INSTDIR" | tr '\n' ' ')"
for lnk in "$START_MENU/VELTPlayer.lnk" "$START_MENU/VELTPlayer Tools" "$DESKTOP/VELTPlayer.lnk"; do
    [ -e "$lnk" ] && fail "left behind: $lnk"
done
reg_has_key "$KEY" && fail "the uninstall entry is left"
grep -qs '^windowmode=1' "$SETTINGS/VELT.ini" || fail "the uninstaller removed the settings unasked"
LEFT=$(find "$WINEPREFIX/drive_c" -ipath '*velt*' | sed "s|^$(realpath "$SETTINGS")|%APPDATA%/VELTPlayer|" | sort)
[ "$LEFT" = "$(printf '%%APPDATA%%/VELTPlayer\n%%APPDATA%%/VELTPlayer/VELT.ini')" ] ||
    fail "left behind: $LEFT"
grep -il 'velt' "$WINEPREFIX"/*.reg && fail "the registry still names VELTPlayer"
echo "left: the settings in %APPDATA%\\VELTPlayer"

step "silent install for every user, replays associated over the game's own"
new_prefix wine-machine
APPDATA_DIR=$(unix_path "$(windows_variable APPDATA)")
SETTINGS="$APPDATA_DIR/VELTPlayer"
mkdir -p "$SETTINGS" && printf '[SETTINGS]\r\nwindowmode=1\r\n' >"$SETTINGS/VELT.ini"
CLASSES='HKLM\Software\Classes'
wine reg add "$CLASSES\\.w3g" /ve /d Warcraft3.Replay /f </dev/null >/dev/null 2>&1
wine "$INSTALLER" /S /AllUsers /AssociateReplays /NoDesktopShortcut </dev/null >"$WORK/install-all.log" 2>&1 ||
    fail "the silent install for every user failed"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VELTPlayer'
INSTDIR_WIN=$(reg_value "$KEY" InstallLocation)
[ "$INSTDIR_WIN" = "$(windows_variable ProgramW6432)\\VELTPlayer" ] ||
    fail "not in Program Files: '$INSTDIR_WIN'"
INSTDIR=$(unix_path "$INSTDIR_WIN")
reg_has_key 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\VELTPlayer' &&
    fail "an install for every user wrote the user's uninstall entry"
COMMON_START=$(unix_path "$(windows_variable ProgramData)\\Microsoft\\Windows\\Start Menu\\Programs")
[ -f "$COMMON_START/VELTPlayer.lnk" ] || fail "no Start-menu entry for every user"
[ -e "$(unix_path "$(windows_variable PUBLIC)\\Desktop")/VELTPlayer.lnk" ] &&
    fail "a desktop shortcut was made although declined"
[ "$(reg_default "$CLASSES\\.w3g")" = VELTPlayer.Replay ] || fail ".w3g is not associated"
[ "$(reg_default "$CLASSES\\VELTPlayer.Replay\\shell\\open\\command")" = "\"$INSTDIR_WIN\\veltplayer.exe\" \"%1\"" ] ||
    fail "the association's command is '$(reg_default "$CLASSES\\VELTPlayer.Replay\\shell\\open\\command")'"

step "silent uninstall with /RemoveSettings: the game's association back, the settings gone"
uninstall "$WORK/uninstall-all.log" "$INSTDIR/Uninstall.exe" /S /RemoveSettings ||
    fail "the silent uninstall for every user failed"
[ -e "$INSTDIR" ] && fail "the program folder is left"
[ -e "$COMMON_START/VELTPlayer.lnk" ] && fail "the Start-menu entry is left"
[ "$(reg_default "$CLASSES\\.w3g")" = Warcraft3.Replay ] ||
    fail ".w3g is '$(reg_default "$CLASSES\\.w3g")', not the game's again"
reg_has_key "$CLASSES\\VELTPlayer.Replay" && fail "the replay file type is left"
reg_has_key "$KEY" && fail "the uninstall entry is left"
[ -e "$SETTINGS" ] && fail "the settings were not removed although asked"
echo "check-windows-installer: OK: $(basename "$INSTALLER"), $(du -k "$INSTALLER" | cut -f1) KiB"
