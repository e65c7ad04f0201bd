#!/usr/bin/env bash
# The player as a user runs it, against two well-known players on the same 5-minute MP3, in one run:
# each plays under Xvfb into a private PulseAudio null sink (through ALSA's default, as on a
# desktop). Measured for each: the time from the start of the process to its first visible window,
# the process's CPU time per second of playback (after a few seconds of warm-up), and its peak
# resident memory. Qmmp and Audacious are yardsticks only; the script installs them when missing.
#
# Targets for Tunefold: CPU <= 7 ms per second of playback and <= 0.5x the lower of the two peers;
# peak RSS <= 48 MB; time to the first window <= 0.5x Qmmp's. Then the floor without a window (our
# chain in tunefold-render, and mpg123), and each player once more with nothing to play, for its CPU
# while idle.
#
# Usage: bench/player_vs_peers.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-30}
warmup=5

need=()
for tool in Xvfb:xvfb xdotool:xdotool pulseaudio:pulseaudio pactl:pulseaudio-utils qmmp:qmmp \
    audacious:audacious sox:sox lame:lame mpg123:mpg123; do
    command -v "${tool%%:*}" >/dev/null || need+=("${tool#*:}")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "installing the yardsticks and tools: ${need[*]}"
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" \
        libasound2-plugins qt6-qpa-plugins >/dev/null
fi

ours=""
for candidate in "$build/tunefold" "$build/app/tunefold"; do
    [ -x "$candidate" ] && ours=$candidate && break
done
[ -n "$ours" ] || { echo "no tunefold program in $build: build the tunefold target first" >&2; exit 2; }

work=$(mktemp -d /tmp/tunefold-bench-XXXXXX)
cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "${pulse_pid:-}" ] && kill "$pulse_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

data="$build/bench-data"
mkdir -p "$data"
mp3="$data/five_minutes.mp3"
if [ ! -s "$mp3" ]; then
    sox -n -r 44100 -c 2 -b 16 "$data/five_minutes.wav" synth 300 sine 220 sine 330-660 synth 300 pinknoise mix vol 0.4
    lame --quiet -b 192 -m j "$data/five_minutes.wav" "$mp3"
    rm -f "$data/five_minutes.wav"
fi

# A private home: each player starts as on a fresh account, and nothing touches the real one.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/home/.cache"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
socket="$XDG_RUNTIME_DIR/pulse-native"
cat > "$work/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=bench_sink rate=44100 channels=2 format=s16le
set-default-sink bench_sink
EOF
export PULSE_SERVER="unix:$socket"
root_flag=(); [ "$(id -u)" -eq 0 ] && root_flag=(--system=false)
pulseaudio -n --daemonize=no --exit-idle-time=-1 "${root_flag[@]}" --disallow-exit --disable-shm=yes \
    -F "$work/server.pa" >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { echo "PulseAudio did not start: $(tail -3 "$work/pulse.log")" >&2; exit 2; }

display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

clk=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }

# measure NAME COMMAND... : prints "name first-window-ms cpu-ms-per-s peak-rss-mb heard"
measure() {
    local name=$1; shift
    local t0 pid t1 shown="" c0 c1 rss heard
    t0=$(now)
    "$@" >"$work/$name.log" 2>&1 &
    pid=$!
    for _ in $(seq 400); do
        if xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; then shown=1; break; fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.025
    done
    t1=$(now)
    if [ -z "$shown" ]; then
        echo "$name showed no window: $(tail -3 "$work/$name.log")" >&2
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return 1
    fi
    sleep "$warmup"
    c0=$(cpu_ticks "$pid")
    sleep "$seconds"
    c1=$(cpu_ticks "$pid")
    heard=$(pactl list short sink-inputs 2>/dev/null | wc -l)
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v n="$name" -v a="$t0" -v b="$t1" -v c="$((c1 - c0))" -v k="$clk" -v s="$seconds" -v r="$rss" -v h="$heard" \
        'BEGIN {printf "%s %.0f %.2f %.1f %d\n", n, (b - a) * 1000, c * 1000 / k / s, r / 1024, h}'
}

# Each plays alone, on the real sound path (no virtual devices).
unset TUNEFOLD_PLATFORM
results=()
results+=("$(measure tunefold "$ours" --play "$mp3")") || true
results+=("$(measure qmmp qmmp "$mp3")") || true
results+=("$(measure audacious audacious -p "$mp3")") || true

printf '%-10s %16s %16s %14s %8s\n' player "first window ms" "CPU ms/s played" "peak RSS MB" streams
for line in "${results[@]}"; do
    [ -n "$line" ] && printf '%-10s %16s %16s %14s %8s\n' $line
done

# The floor under every player: decoding and the sound server's client without any window, the
# same file through the same ALSA default. Our chain (volume, equalizer, output) in tunefold-render,
# and mpg123, a decoder that only decodes and writes.
# headless NAME COMMAND... : prints "name cpu-ms-per-s"
headless() {
    local name=$1; shift
    local pid c0 c1
    "$@" >"$work/$name.log" 2>&1 &
    pid=$!
    sleep "$warmup"
    kill -0 "$pid" 2>/dev/null || { echo "$name ended early: $(tail -3 "$work/$name.log")" >&2; return 1; }
    c0=$(cpu_ticks "$pid")
    sleep "$seconds"
    c1=$(cpu_ticks "$pid")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    awk -v n="$name" -v c="$((c1 - c0))" -v k="$clk" -v s="$seconds" 'BEGIN {printf "%s %.2f\n", n, c * 1000 / k / s}'
}
floor=()
render=""
for candidate in "$build/tools/tunefold-render" "$build/tunefold-render"; do
    [ -x "$candidate" ] && render=$candidate && break
done
[ -n "$render" ] && { floor+=("$(headless tunefold-render "$render" "$mp3")") || true; }
command -v mpg123 >/dev/null && { floor+=("$(headless mpg123 mpg123 -q -o alsa "$mp3")") || true; }
printf '%-16s %16s\n' "no window" "CPU ms/s played"
for line in "${floor[@]}"; do
    [ -n "$line" ] && printf '%-16s %16s\n' $line
done

# The same players open with nothing to play: what a player costs while it only sits on the desktop.
idle=()
idle+=("$(measure tunefold "$ours")") || true
idle+=("$(measure qmmp qmmp)") || true
idle+=("$(measure audacious audacious)") || true
printf '%-10s %16s\n' player "CPU ms/s idle"
for line in "${idle[@]}"; do
    [ -n "$line" ] && printf '%-10s %16s\n' $(echo "$line" | awk '{print $1, $3}')
done

get() { printf '%s\n' "${results[@]}" | awk -v n="$1" -v f="$2" '$1 == n {print $f}'; }
ours_cpu=$(get tunefold 3); ours_rss=$(get tunefold 4); ours_start=$(get tunefold 2)
qmmp_cpu=$(get qmmp 3); aud_cpu=$(get audacious 3); qmmp_start=$(get qmmp 2)
if [ -n "$ours_cpu" ] && [ -n "$qmmp_cpu" ] && [ -n "$aud_cpu" ]; then
    awk -v o="$ours_cpu" -v q="$qmmp_cpu" -v a="$aud_cpu" -v r="$ours_rss" -v s="$ours_start" -v qs="$qmmp_start" 'BEGIN {
        low = (q < a) ? q : a
        printf "CPU: %.2f ms/s (target <= 7); ratio to the lower peer: %.2f (target <= 0.5)\n", o, o / low
        printf "peak RSS: %.1f MB (target <= 48)\n", r
        printf "first window: %.0f ms; ratio to Qmmp: %.2f (target <= 0.5)\n", s, s / qs
    }'
fi
