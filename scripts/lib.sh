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

# Every preset treats warnings as errors. Targets after the preset build only those (and what they
# need); none builds everything.
build_preset() {
    local preset=$1
    shift
    say "configure and build: $preset${*:+ ($*)}"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(build_jobs)" ${*:+--target "$@"}
}

# The version in the package names: the first three parts of the project's version.
cardwick_package_version() {
    sed -n 's/^project(Cardwick VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$CARDWICK_ROOT/CMakeLists.txt"
}
