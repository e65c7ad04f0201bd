#!/usr/bin/env bash
# Renders the icon's PNG sizes from resources/icons/tunefold.svg into resources/icons/hicolor/.
# The PNGs are committed, so building and installing never need this; rerun it (it needs
# rsvg-convert, Debian package librsvg2-bin) whenever the SVG changes, and commit what it wrote.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
svg="$here/resources/icons/tunefold.svg"
out="$here/resources/icons/hicolor"

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "make_icons: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2
    exit 1
fi

for size in 16 24 32 48 64 128 256; do
    dir="$out/${size}x${size}/apps"
    mkdir -p "$dir"
    # Render beside the target and rename, so an interrupted run never leaves half a picture.
    tmp="$(mktemp "$dir/.tunefold.XXXXXX")"
    if ! rsvg-convert --width "$size" --height "$size" --format png --output "$tmp" "$svg"; then
        rm -f "$tmp"
        exit 1
    fi
    chmod 0644 "$tmp"
    mv -f "$tmp" "$dir/tunefold.png"
    echo "make_icons: ${size}x${size}"
done
