#!/bin/bash
# Reads the resources of built Windows programs back with tools that nobody here wrote
# (icoutils' wrestool and icotool): the icon's sizes, the version resource's numbers and
# strings, and the manifest. The desktop client's manifest is checked for what a windowed
# program needs as well.
# Usage: check-windows-resources.sh VERSION PROGRAM.exe DESCRIPTION [PROGRAM.exe DESCRIPTION]...
set -euo pipefail
VERSION=$1
shift
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "check-windows-resources: $PROGRAM: $*" >&2
    failures=$((failures + 1))
}

# The version's four numbers as VS_FIXEDFILEINFO holds them: little-endian u16 pairs, minor
# before major in each u32.
IFS=. read -r major minor patch tweak rest <<<"$VERSION"
u16() { printf '%02x%02x' $((${1:-0} & 255)) $((${1:-0} >> 8)); }
FIXED_VERSION="$(u16 "$minor")$(u16 "$major")$(u16 "$tweak")$(u16 "$patch")"

while [ "$#" -ge 2 ]; do
    PROGRAM=$1
    DESCRIPTION=$2
    shift 2
    NAME=$(basename "$PROGRAM")
    dir="$WORK/$NAME"
    sizes=""
    mkdir -p "$dir"

    # The icon: one group with the four sizes, 32-bit colour.
    wrestool --extract --type=group_icon --output="$dir" "$PROGRAM" 2>/dev/null || true
    ico=$(find "$dir" -name '*.ico' | head -n1)
    if [ -z "$ico" ]; then
        fail "no icon"
    else
        sizes=$(icotool --list "$ico" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=32.*/\1x\2/p' | sort -n | tr '\n' ' ')
        [ "$sizes" = "16x16 32x32 48x48 256x256 " ] || fail "icon sizes are '$sizes'"
    fi

    # The version resource: its fixed numbers and its strings (UTF-16, read as key, value).
    wrestool --extract --raw --type=version "$PROGRAM" >"$dir/version.bin" 2>/dev/null || true
    if [ ! -s "$dir/version.bin" ]; then
        fail "no version resource"
    else
        # Signature FEEF04BD, structure version, then file and product version; spaces keep the
        # search on whole bytes.
        hex=$(od -An -v -tx1 "$dir/version.bin" | tr '\n' ' ' | tr -s ' ')
        fixed=$(tr -d ' ' <<<"${hex#* bd 04 ef fe }")
        [ "${fixed:8:16}" = "$FIXED_VERSION" ] || fail "file version numbers are ${fixed:8:16}"
        [ "${fixed:24:16}" = "$FIXED_VERSION" ] || fail "product version numbers are ${fixed:24:16}"
        strings --bytes=3 --encoding=l "$dir/version.bin" >"$dir/version.txt"
        value() { grep -A1 -x "$1" "$dir/version.txt" | sed -n 2p; }
        for pair in "FileVersion=$VERSION" "ProductVersion=$VERSION" "ProductName=VELTPlayer" \
            "CompanyName=The VELTPlayer developers" "FileDescription=$DESCRIPTION" \
            "OriginalFilename=$NAME"; do
            key=${pair%%=*}
            [ "$(value "$key")" = "${pair#*=}" ] || fail "$key is '$(value "$key")', not '${pair#*=}'"
        done
    fi

    # The manifest: the user's own rights and UTF-8 for all; the desktop client's windowed needs.
    wrestool --extract --raw --type=24 "$PROGRAM" >"$dir/manifest.xml" 2>/dev/null || true
    if [ ! -s "$dir/manifest.xml" ]; then
        fail "no manifest"
    else
        expected=('level="asInvoker"' '>UTF-8</activeCodePage>')
        if [ "$NAME" = veltplayer.exe ]; then
            expected+=('>PerMonitorV2, PerMonitor</dpiAwareness>' '>true/pm</dpiAware>'
                'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"')
        fi
        for text in "${expected[@]}"; do
            grep -qF -- "$text" "$dir/manifest.xml" || fail "the manifest lacks $text"
        done
    fi
    echo "check-windows-resources: $NAME: icon ${sizes:-none}; version $(value FileVersion 2>/dev/null || true)"
done
[ "$failures" = 0 ] || exit 1
echo "check-windows-resources: OK"
