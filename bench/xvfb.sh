# Sourced by the bench scripts: runs the windows on a display of their own.
#   start_display DIR    QPA=xcb (the default): starts Xvfb, exports DISPLAY;
#                        QPA=offscreen: no X server at all.
# Sets QT_QPA_PLATFORM and XVFB_PID (empty without Xvfb); the caller kills
# XVFB_PID when done. The page view's sandbox cannot run as root: it is off.
start_display() {
    local dir=$1
    export QTWEBENGINE_DISABLE_SANDBOX=1
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --no-sandbox}"
    XVFB_PID=
    if [ "${QPA:-xcb}" = offscreen ]; then
        export QT_QPA_PLATFORM=offscreen
        return 0
    fi
    command -v Xvfb >/dev/null || { echo "Xvfb is needed (or QPA=offscreen)" >&2; return 1; }
    exec 3>"$dir/display"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    exec 3>&-
    for _ in $(seq 50); do [ -s "$dir/display" ] && break; sleep 0.1; done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(head -n1 "$dir/display")
    export QT_QPA_PLATFORM=xcb
}
