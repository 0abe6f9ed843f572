# Shared steps of ./run: dependencies, builds. Sourced, not run.

CARDWICK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CARDWICK_PACKAGES=(cmake make g++ clang libclang-rt-14-dev googletest
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 nsis
    wine wine64 fonts-wine fonts-liberation xvfb xauth x11-utils imagemagick python3 procps
    util-linux qemu-user-static wine32:i386 osslsigncode openssl)

say() { printf '\n== %s\n' "$*"; }

# Installs only what is missing, so a second run costs nothing.
install_deps() {
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    # Wine's 32-bit half comes from the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        say "adding the i386 architecture"
        $sudo dpkg --add-architecture i386
    fi
    local missing=()
    for p in "${CARDWICK_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        say "installing: ${missing[*]}"
        $sudo apt-get update -qq
        # With the recommended packages: Wine's own fonts and the font it substitutes for
        # "MS Sans Serif" come that way, and the tests measure text laid out in them.
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# Not "jobs": that would hide the shell's builtin.
build_jobs() { nproc 2>/dev/null || echo 2; }

# Every preset treats warnings as errors.
build_preset() {
    local preset=$1
    say "configure and build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(build_jobs)"
}

# The i386 ELF header as the kernel's binfmt_misc matches it (the kernel reads the \x escapes), handed to the user-mode emulator. The
# kernel of these machines runs no i386 program itself; flag F opens the emulator once, at
# registration, so it also serves programs started inside other mount namespaces.
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
    [ "$(cat "$binfmt/qemu-i386" | head -n 1)" = enabled ] || echo 1 >"$binfmt/qemu-i386"
    [ -x /usr/lib/wine/wine ] || {
        echo "32-bit tier: Wine's 32-bit loader /usr/lib/wine/wine is missing (package wine32:i386)" >&2
        return 1
    }
    QEMU_RESERVED_VA=0x88000000 /usr/lib/wine/wine --version >/dev/null 2>&1 || {
        echo "32-bit tier: Wine's 32-bit loader does not start under the emulator" >&2
        return 1
    }
}

# The version in the package names: the first three parts of the project's version.
cardwick_package_version() {
    sed -n 's/^project(Cardwick VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$CARDWICK_ROOT/CMakeLists.txt"
}
