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
