# The Wine test environment: one fresh prefix per run inside the build folder, COM ports that
# tests can point at reader-sim's pty, and a warm wineserver for the whole run. Sourced.
#
# Two kinds of prefix. A 64-bit prefix (the default) runs the 64-bit build and has no 32-bit half.
# A 32-bit-capable prefix (CARDWICK_WINE_ARCH=win32) also has Wine's 32-bit half, which runs under
# user-mode emulation here (scripts/lib.sh sets it up); it takes minutes to make, so a run makes it
# once and copies it (wine_prefix_template).

# COM ports the tests may use; COM1 and COM2 are left to the host's own serial devices.
CARDWICK_TEST_PORTS=(COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10 COM11 COM12)

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# `wine` from the distribution starts the emulated 32-bit loader first even for a 64-bit program,
# seconds per start; tests run `wine` from PATH, which names these loaders instead.
CARDWICK_WINE64_LOADER=/usr/lib/wine/wine64
CARDWICK_WINE32_LOADER=/usr/lib/wine/wine
# The emulated 32-bit loader cannot map Wine's shared user data without a reserved guest address
# space. Wine reserves all of that space above 2 GB at every process start, one emulated mmap per
# 64 KB when the emulator refuses the whole; 128 MB there leaves room for the loader's own
# libraries and makes a start take seconds instead of minutes.
CARDWICK_QEMU_RESERVED_VA=0x88000000

# The `wine` that tests find on PATH. A 32-bit program (PE machine 0x14c) named by its Linux path
# goes straight to the 32-bit loader: the 64-bit loader would start it through start.exe, so the
# process a test started, stops or kills would be start.exe and not the program. Everything else
# goes to the native 64-bit loader.
wine_loader_wrapper() {
    cat <<WRAPPER
#!/bin/sh
if [ -f "\$1" ] && [ -x "$CARDWICK_WINE32_LOADER" ]; then
    pe=\$(od -An -tu4 -j60 -N4 "\$1" 2>/dev/null | tr -d ' ')
    machine=\$(od -An -tx2 -j\$((\${pe:-0} + 4)) -N2 "\$1" 2>/dev/null | tr -d ' ')
    [ "\$machine" = 014c ] && exec "$CARDWICK_WINE32_LOADER" "\$@"
fi
exec "$CARDWICK_WINE64_LOADER" "\$@"
WRAPPER
}

# The i386 ELF header as the kernel's binfmt_misc matches it (the kernel reads the \x escapes),
# handed to the user-mode emulator. The kernel of these machines runs no i386 program itself; flag
# F opens the emulator once, at registration, so it also serves programs started inside other
# mount namespaces.
CARDWICK_I386_BINFMT=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'

# Makes Wine's 32-bit half runnable, as far as this machine allows: binfmt_misc mounted, the i386
# header registered with the emulator, and a 32-bit Wine loader that starts. Idempotent. Fails with
# one line naming the missing piece: the 32-bit tier is never skipped in silence.
ensure_i386_emulation() {
    local binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
            echo "32-bit tier: cannot mount binfmt_misc at $binfmt (needs root)" >&2
            return 1
        }
    fi
    [ -x /usr/bin/qemu-i386-static ] || {
        echo "32-bit tier: /usr/bin/qemu-i386-static is missing (package qemu-user-static)" >&2
        return 1
    }
    if [ ! -e "$binfmt/qemu-i386" ]; then
        printf '%s' "$CARDWICK_I386_BINFMT" >"$binfmt/register" 2>/dev/null || {
            echo "32-bit tier: cannot register the i386 emulator with binfmt_misc" >&2
            return 1
        }
    fi
    [ "$(head -n 1 "$binfmt/qemu-i386")" = enabled ] || echo 1 >"$binfmt/qemu-i386"
    [ -x "$CARDWICK_WINE32_LOADER" ] || {
        echo "32-bit tier: Wine's 32-bit loader $CARDWICK_WINE32_LOADER is missing (package wine32:i386)" >&2
        return 1
    }
    QEMU_RESERVED_VA=$CARDWICK_QEMU_RESERVED_VA "$CARDWICK_WINE32_LOADER" --version >/dev/null 2>&1 || {
        echo "32-bit tier: Wine's 32-bit loader does not start under the emulator" >&2
        return 1
    }
}

# What every Wine process of either kind needs, with no prefix named yet.
wine_env_loader_exports() {
    export WINEDEBUG=-all
    # The end-to-end tests check that the program they drive runs under the loader of its kind.
    export CARDWICK_WINE64_LOADER CARDWICK_WINE32_LOADER
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export CARDWICK_WINE_ARCH=${CARDWICK_WINE_ARCH:-win64}
    if [ -x "$CARDWICK_WINE64_LOADER" ]; then
        export WINELOADER=$CARDWICK_WINE64_LOADER
        local bin="$CARDWICK_ROOT/build/wine-bin"
        mkdir -p "$bin"
        wine_loader_wrapper >"$bin/wine.new"
        chmod +x "$bin/wine.new"
        if cmp -s "$bin/wine.new" "$bin/wine"; then rm -f "$bin/wine.new"; else mv -f "$bin/wine.new" "$bin/wine"; fi
        case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
    fi
    if [ "$CARDWICK_WINE_ARCH" = win32 ]; then
        export QEMU_RESERVED_VA=$CARDWICK_QEMU_RESERVED_VA
    else
        unset QEMU_RESERVED_VA
    fi
}

wine_env_exports() {
    local build=$1
    wine_env_loader_exports
    export WINEPREFIX="$build/wine/prefix"
    export CARDWICK_PORTS_DIR="$build/wine/ports"
}

# Boots a new prefix of the exported kind at $WINEPREFIX. A boot that fails shows what wineboot
# said, which a bare exit status does not.
wine_boot_prefix() {
    local log
    log=$(mktemp)
    if ! wine_boot_prefix_quietly >"$log" 2>&1; then
        echo "wineboot failed for $WINEPREFIX:" >&2
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
    wineserver -w
}

wine_boot_prefix_quietly() {
    if [ "$CARDWICK_WINE_ARCH" = win32 ]; then
        wine wineboot -i
    elif [ -e "$CARDWICK_WINE32_LOADER" ] && [ "$(id -u)" = 0 ] && command -v unshare >/dev/null; then
        # With the 32-bit loader present, every new prefix runs Wine's 32-bit set-up under emulation
        # (minutes). Hidden from this boot alone, the loader cannot start and the 64-bit prefix is
        # made in seconds, as on a machine without the 32-bit half.
        unshare -m sh -c 'mount --bind /dev/null "$1" && exec wine wineboot -i' sh "$CARDWICK_WINE32_LOADER"
    else
        wine wineboot -i
    fi
}

# The folder of the booted prefix that new prefixes of the exported kind are copied from: one per
# kind and Wine version, kept under build/ so that a run makes it once and a later run not at all.
wine_template_dir() {
    local version
    version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.~\n-' _)
    echo "$CARDWICK_ROOT/build/wine-templates/$CARDWICK_WINE_ARCH-${version:-unknown}"
}

# Makes the template if it is missing. Safe to start in the background ahead of its use: a second
# caller waits on the lock for the first to finish.
wine_prefix_template() {
    local template
    template=$(wine_template_dir)
    mkdir -p "$(dirname "$template")"
    (
        flock 9
        if [ ! -f "$template/.complete" ]; then
            rm -rf "$template"
            mkdir -p "$template"
            WINEPREFIX=$template wine_boot_prefix
            WINEPREFIX=$template wineserver -k 2>/dev/null || true
            WINEPREFIX=$template wineserver -w
            touch "$template/.complete"
        fi
    ) 9>"$template.lock"
}

wine_prefix_from_template() {
    local template
    template=$(wine_template_dir)
    wine_prefix_template
    cp -a "$template/." "$WINEPREFIX/"
    rm -f "$WINEPREFIX/.complete"
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
    if [ "$CARDWICK_WINE_ARCH" = win32 ]; then
        wine_prefix_from_template
    else
        wine_boot_prefix
    fi
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
        # A double-click time of our own, short and far from the usual 500 ms: a single click on
        # the tray icon waits that long before it counts, so the tests spend less time waiting, and
        # a click timer that does not take the system's time shows against it.
        printf '\n[HKEY_CURRENT_USER\\Control Panel\\Mouse]\n"DoubleClickSpeed"="200"\n'
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
