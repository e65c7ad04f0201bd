#!/usr/bin/env bash
# The player's whole chain with the equalizer on (decoder, converter, volume, equalizer, the wave
# output on the virtual card as fast as it goes) through tunefold-render --out, against
# mpg123 -q -t (decoding only) on the same 5-minute MP3. The target is at least 0.8 of its speed.
# Usage: bench/chain_vs_mpg123.sh BUILD_DIR [RUNS]
set -euo pipefail
source "$(dirname "$0")/against_mpg123.bash"
# A curve that is not flat, so every band does some work.
compare_with_mpg123 "${1:?usage: $0 BUILD_DIR [RUNS]}" "${2:-5}" "tunefold-render --out, equalizer on" 0.8 \
    --volume 14000 --bands "3,2,1,0,-1,-2,0,2,4,-3"
