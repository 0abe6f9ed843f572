# The Wine test environment: one fresh prefix per run inside the build folder, COM ports that
# tests can point at reader-sim's pty, and a warm wineserver for the whole run. Sourced.

# COM ports the tests may use; COM1 and COM2 are left to the host's own serial devices.
CARDWICK_TEST_PORTS=(COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10 COM11 COM12)

wine_env_exports() {
    local build=$1
    export WINEPREFIX="$build/wine/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export CARDWICK_PORTS_DIR="$build/wine/ports"
}

# Each port is registered once under HKLM\Software\Wine\Ports, pointing at a symlink of ours;
# a test plugs reader-sim in by pointing that symlink at its pty, with no wineserver restart.
# Registering also lists the port under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
wine_env_setup() {
    local build
    build=$(cd "$1" && pwd)
    wine_env_exports "$build"
    echo "wine prefix: $WINEPREFIX"
    wineserver -k 2>/dev/null || true
    rm -rf "$build/wine"
    mkdir -p "$WINEPREFIX" "$CARDWICK_PORTS_DIR"
    wineboot -i >/dev/null 2>&1
    wine_env_fonts
    local regfile="$build/wine/ports.reg"
    {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        for port in "${CARDWICK_TEST_PORTS[@]}"; do
            printf '"%s"="%s"\n' "$port" "$CARDWICK_PORTS_DIR/${port,,}"
        done
        # Xvfb runs no window manager, and Wine waits up to 2 s, on the program's own thread, for
        # one to acknowledge every managed top-level window shown or hidden (the tray window of
        # explorer included, so a Shell_NotifyIcon call stalls too). Unmanaged windows need none.
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n'
    } >"$regfile"
    wine regedit /S "$regfile" >/dev/null 2>&1
    wineserver -w
    # Ports are read when the wineserver starts.
    wineserver -k 2>/dev/null || true
    wineserver -w
    # The wineserver dumps its objects to stderr when a pty it holds hangs up (a test unplugging
    # reader-sim); keep that out of the test log.
    wineserver -p 2>>"$build/wine/wineserver.log"
    wine cmd /c exit >/dev/null 2>&1 || true
    trap wine_env_teardown EXIT
}

# Windows' own faces for the two the program's windows use, from Wine's fonts (fonts-wine): Marlett
# draws the title bars' minimise, maximise and close glyphs (without it they show as "0", "1" and
# "r"), and sserife.fon is "MS Sans Serif", the forms' font, as Windows itself draws it at 8 point
# (without it Wine lays text out in Liberation Sans, which is wider and clips captions such as
# "Suffix Carriage Return"). Wine 8 does not pick its ms_sans_serif.ttf for that face; it picks the
# bitmap font, which the prefix's font list already names. Fonts in the prefix's Fonts folder are
# loaded by every Wine process of the prefix.
CARDWICK_WINE_FONTS=(/usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/sserife.fon)

wine_env_fonts() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    cp "${CARDWICK_WINE_FONTS[@]}" "$fonts/"
}

wine_env_teardown() {
    wineserver -k 2>/dev/null || true
}

# Points a registered COM port at a device path (reader-sim's pty); the next open follows it.
wine_plug_port() {
    local port=$1 device=$2
    ln -sfn "$device" "$CARDWICK_PORTS_DIR/${port,,}"
}
