# Shared by the scripts that time tunefold-render against mpg123 -q -t on the same 5-minute MP3:
# source it, then call compare_with_mpg123 BUILD_DIR RUNS LABEL TARGET [RENDER OPTIONS...].
# Runs alternate between the two programs; the ratio printed is mpg123's median time over ours.

compare_with_mpg123() {
    local build=$1 runs=$2 label=$3 target=$4
    shift 4
    local render="$build/tools/tunefold-render"
    [ -x "$render" ] || { echo "no $render: build the tunefold-render target first" >&2; return 2; }
    command -v mpg123 >/dev/null && command -v sox >/dev/null && command -v lame >/dev/null ||
        { echo "needs mpg123, sox and lame" >&2; return 2; }

    local work="$build/bench-data"
    mkdir -p "$work"
    local mp3="$work/five_minutes.mp3"
    if [ ! -s "$mp3" ]; then
        # Five minutes of a chord with a slow sweep and a little noise, at 192 kbit/s joint stereo.
        sox -n -r 44100 -c 2 -b 16 "$work/five_minutes.wav" \
            synth 300 sine 220 sine 330-660 synth 300 pinknoise mix vol 0.4
        lame --quiet -b 192 -m j "$work/five_minutes.wav" "$mp3"
        rm -f "$work/five_minutes.wav"
    fi
    local out="$work/compare_out.wav"

    now() { date +%s.%N; }
    local ours=() theirs=() i t0 t1 t2
    for ((i = 0; i < runs; i++)); do
        # mpg123 -t writes nothing: the cost of replacing the previous run's output stays out.
        rm -f "$out"
        t0=$(now); "$render" "$@" --out "$out" "$mp3"; t1=$(now)
        mpg123 -q -t "$mp3"; t2=$(now)
        ours+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')")
        theirs+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN {printf "%.3f", b - a}')")
    done
    rm -f "$out"

    median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
    local mo mt ratio
    mo=$(median "${ours[@]}")
    mt=$(median "${theirs[@]}")
    ratio=$(awk -v t="$mt" -v o="$mo" 'BEGIN {printf "%.3f", t / o}')
    printf '%s: %s s (median of %d: %s)\n' "$label" "$mo" "$runs" "${ours[*]}"
    printf 'mpg123 -q -t: %s s (median of %d: %s)\n' "$mt" "$runs" "${theirs[*]}"
    printf 'speed ratio (mpg123 time / our time): %s (target >= %s)\n' "$ratio" "$target"
}
