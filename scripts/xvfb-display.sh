# shellcheck shell=bash
# Sourced by the scripts that need a virtual X display of their own (gui-smoke.sh,
# package-check.sh, wine-display.sh). Needs Xvfb and xdotool.
#
# start_xvfb DIR: starts an Xvfb on a free display number, writing DIR/display and appending to
# DIR/xvfb.log, and returns once the display accepts connections, with DISPLAY exported and
# XVFB_PID set (the caller stops it). A display that does not accept within WAIT_S seconds
# (default 60) is stopped and a fresh one tried once; returns 1, with nothing left running, when
# that fails too.
#
# -noreset: with -displayfd, Xvfb takes no lock file and takes any number whose abstract socket
# is free in its own network namespace, replacing the socket file /tmp/.X11-unix/X<n> of a server
# of the same number in another namespace (another program's). When that server ends, it removes
# the file; ours, resetting after its last client has gone, then no longer takes connections
# ("could not connect to display :0"). A server that never resets keeps taking them.
XVFB_PID=""

start_xvfb() {
    local dir=$1 attempt i number
    for attempt in 1 2; do
        : >"$dir/display"
        Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp \
            3>"$dir/display" 2>>"$dir/xvfb.log" &
        XVFB_PID=$!
        number=""
        for ((i = 0; i < ${WAIT_S:-60} * 10; i++)); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            # Xvfb writes the number, then the newline: a whole line is a whole number.
            if [ -z "$number" ] && [ "$(tail -c 1 "$dir/display")" = "" ] &&
                [ -s "$dir/display" ]; then
                number=$(head -n 1 "$dir/display")
                [[ $number =~ ^[0-9]+$ ]] || number=""
            fi
            if [ -n "$number" ] && DISPLAY=":$number" xdotool getdisplaygeometry >/dev/null 2>&1; then
                export DISPLAY=":$number"
                return 0
            fi
            sleep 0.1
        done
        echo "$(basename "$0"): Xvfb (attempt $attempt) gave no display that accepts connections" >&2
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    done
    return 1
}
