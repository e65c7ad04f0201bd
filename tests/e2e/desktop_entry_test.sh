#!/usr/bin/env bash
# The desktop entry against the freedesktop.org rules, with desktop-file-validate (Debian package
# desktop-file-utils, installed by scripts/install-deps). Exit 77, which the test runner counts as
# skipped, when the validator is not there.
# Usage: desktop_entry_test.sh FILE.desktop
set -euo pipefail

entry="${1:?desktop entry}"
if ! command -v desktop-file-validate >/dev/null 2>&1; then
    echo "desktop-file-validate is missing (apt-get install desktop-file-utils): skipped"
    exit 77
fi
# The validator exits 0 on hints and warnings too: any message at all is a fault of the entry.
messages="$(desktop-file-validate "$entry" 2>&1)" || { echo "$messages" >&2; exit 1; }
if [ -n "$messages" ]; then
    echo "$messages" >&2
    exit 1
fi
echo "desktop entry valid: $entry"

# The desktop finds a handler for a file through the file's MIME type, so the entry must name
# the type the MIME database gives each extension the player claims (.mp2, for one, is audio/mp2,
# not audio/mpeg). Every audio type globbed for the extension counts; an alias in the entry covers
# the type it stands for.
mime=/usr/share/mime
if [ ! -f "$mime/globs2" ] || [ ! -f "$mime/aliases" ]; then
    echo "no MIME database in $mime (package shared-mime-info): the type check is skipped"
    exit 0
fi
listed="$(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n' | sed '/^$/d')"
covered="$( (printf '%s\n' "$listed"
             awk 'NR == FNR { want[$0] = 1; next } ($1 in want) { print $2 }' <(printf '%s\n' "$listed") "$mime/aliases")
           ) | sort -u)"
missing=0
for extension in wav mp2 mp3 m3u; do
    types="$(awk -F: -v glob="*.$extension" '$3 == glob && $2 ~ /^audio\// { print $2 }' "$mime/globs2" | sort -u)"
    if [ -z "$types" ]; then
        echo "the MIME database has no audio type for .$extension" >&2
        missing=1
    fi
    for type in $types; do
        if ! grep -qxF "$type" <<<"$covered"; then
            echo "MimeType= lacks $type, the type of .$extension files" >&2
            missing=1
        fi
    done
done
[ "$missing" -eq 0 ] || exit 1
echo "desktop entry names the MIME types of .wav, .mp2, .mp3 and .m3u"
