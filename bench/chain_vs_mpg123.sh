#!/usr/bin/env bash
# The player's whole chain with the equalizer on (decoder, converter, volume, equalizer, the wave
# output on the virtual card as fast as it goes) through tunefold-render --out, against
# mpg123 -q -t (decoding only) on the same 5-minute MP3, several runs each, alternating. Prints the
# ratio of their speeds (mpg123's time over ours; the target is at least 0.8).
# Usage: bench/chain_vs_mpg123.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-5}
render="$build/tools/tunefold-render"
[ -x "$render" ] || { echo "no $render: build the tunefold-render target first" >&2; exit 2; }
command -v mpg123 >/dev/null && command -v sox >/dev/null && command -v lame >/dev/null ||
    { echo "needs mpg123, sox and lame" >&2; exit 2; }

work="$build/bench-data"
mkdir -p "$work"
mp3="$work/five_minutes.mp3"
if [ ! -s "$mp3" ]; then
    # Five minutes of a chord with a slow sweep and a little noise, at 192 kbit/s joint stereo.
    sox -n -r 44100 -c 2 -b 16 "$work/five_minutes.wav" \
        synth 300 sine 220 sine 330-660 synth 300 pinknoise mix vol 0.4
    lame --quiet -b 192 -m j "$work/five_minutes.wav" "$mp3"
    rm -f "$work/five_minutes.wav"
fi
out="$work/chain_out.wav"
# A curve that is not flat, so every band does some work.
bands="3,2,1,0,-1,-2,0,2,4,-3"

now() { date +%s.%N; }
ours=()
theirs=()
for ((i = 0; i < runs; i++)); do
    t0=$(now); "$render" --volume 14000 --bands "$bands" --out "$out" "$mp3"; t1=$(now)
    mpg123 -q -t "$mp3"; t2=$(now)
    ours+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')")
    theirs+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN {printf "%.3f", b - a}')")
done
rm -f "$out"

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
mo=$(median "${ours[@]}")
mt=$(median "${theirs[@]}")
ratio=$(awk -v t="$mt" -v o="$mo" 'BEGIN {printf "%.3f", t / o}')
printf 'tunefold-render --out, equalizer on: %s s (median of %d: %s)\n' "$mo" "$runs" "${ours[*]}"
printf 'mpg123 -q -t:                        %s s (median of %d: %s)\n' "$mt" "$runs" "${theirs[*]}"
printf 'speed ratio (mpg123 time / our time): %s (target >= 0.8)\n' "$ratio"
