# A virtual X server with a window manager, and the few moves the scripts make on the program's
# windows through xdotool (scripts/screenshot, scripts/fresh-check). Needs SCREENSHOT_PACKAGES.
# shellcheck shell=bash

VDISPLAY_LOGS=""
VDISPLAY_XVFB_PID=""
VDISPLAY_WM_PID=""

# vdisplay_start LOG_FOLDER: starts Xvfb on a free display with openbox on it, exports DISPLAY.
vdisplay_start() {
    VDISPLAY_LOGS=$1
    local display=99
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >"$VDISPLAY_LOGS/xvfb.log" 2>&1 &
    VDISPLAY_XVFB_PID=$!
    export DISPLAY=":$display"
    for _ in $(seq 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && break
        sleep 0.1
    done
    xdotool getdisplaygeometry >/dev/null 2>&1 || die "the virtual X server did not start"
    # A window manager, so that the login window shows its title bar as on a desktop. Openbox
    # draws minimise and maximise buttons on every window whatever the window asks for; the login
    # window asks for a close box only, so the title bar is laid out as icon, caption, close.
    cat >"$VDISPLAY_LOGS/openbox.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><titleLayout>NLC</titleLayout></theme>
</openbox_config>
XML
    openbox --sm-disable --config-file "$VDISPLAY_LOGS/openbox.xml" \
        >"$VDISPLAY_LOGS/openbox.log" 2>&1 &
    VDISPLAY_WM_PID=$!
    sleep 1
}

vdisplay_stop() {
    if [ -n "$VDISPLAY_WM_PID" ]; then kill "$VDISPLAY_WM_PID" 2>/dev/null || true; fi
    if [ -n "$VDISPLAY_XVFB_PID" ]; then kill "$VDISPLAY_XVFB_PID" 2>/dev/null || true; fi
    VDISPLAY_WM_PID=""
    VDISPLAY_XVFB_PID=""
}

# vdisplay_wait_window TITLE [PROGRAM_LOG]: prints the id of the visible window with that title;
# fails, showing the program's log, when none appears within ten seconds.
# Titles are compared as the window manager shows them (getwindowname prefers _NET_WM_NAME):
# `search --name` reads WM_NAME, which Qt encodes in the program's locale, so under LANG=C a
# Chinese title is not found there.
vdisplay_wait_window() {
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --name . 2>/dev/null || true); do
            if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ]; then
                sleep 0.5 # let it paint
                echo "$id"
                return 0
            fi
        done
        sleep 0.1
    done
    [ -n "${2:-}" ] && cat "$2" >&2
    die "no window titled '$1' appeared"
}

# vdisplay_type WINDOW TEXT: types into the focused control of WINDOW.
vdisplay_type() {
    xdotool windowfocus --sync "$1"
    xdotool type --delay 50 "$2"
    sleep 0.3
}

# vdisplay_quit_main WINDOW PID: clicks the close cross of the main window and waits for the
# program PID to end.
vdisplay_quit_main() {
    xdotool mousemove --window "$1" 241 12 click 1
    for _ in $(seq 50); do
        kill -0 "$2" 2>/dev/null || { wait "$2" || true; return 0; }
        sleep 0.1
    done
    die "the quit label did not end the program"
}
