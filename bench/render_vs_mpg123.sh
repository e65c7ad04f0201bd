#!/usr/bin/env bash
# Decoding speed of tunefold-render (--out: the chain without processing stages, the virtual card as
# fast as it goes) against mpg123 -q -t on the same 5-minute MP3. The target is at least 0.9 of
# mpg123's speed: both use the same decoder.
# Usage: bench/render_vs_mpg123.sh BUILD_DIR [RUNS]
set -euo pipefail
source "$(dirname "$0")/against_mpg123.bash"
compare_with_mpg123 "${1:?usage: $0 BUILD_DIR [RUNS]}" "${2:-5}" "tunefold-render --out, no processing" 0.9 --no-eq
