#!/usr/bin/env bash
# Makes the installer from Cardwick.nsi: the program is copied, signed when a certificate is given
# (see sign.sh), and packed; makensis signs the uninstaller and the installer with the same command
# as it makes them, and fails when a signature fails. The installer is made beside the others and
# put in place only when all went well, so a failed step leaves no installer, not even an old one.
# usage: make-installer.sh ARCH EXE README LICENSE ICON VERSION OUTFILE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 exe=$2 readme=$3 license=$4 icon=$5 version=$6 outfile=$7
rm -f "$outfile"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/Cardwick.exe"
"$here/sign.sh" "$stage/Cardwick.exe"
sign=()
[ -z "${CARDWICK_SIGN_CERT:-}" ] || sign=("-DSIGN=\"$here/sign.sh\"")
makensis -V2 -DARCH="$arch" -DEXE="$stage/Cardwick.exe" -DREADME="$readme" -DLICENSE="$license" \
    -DICON="$icon" -DVERSION="$version" -DOUTFILE="$stage/${outfile##*/}" "${sign[@]}" "$here/Cardwick.nsi"
mkdir -p "$(dirname "$outfile")"
mv "$stage/${outfile##*/}" "$outfile"
