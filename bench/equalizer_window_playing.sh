#!/usr/bin/env bash
# The player playing a 5-minute MP3 with the equalizer window open in its spectrum view, as a user
# runs it: under Xvfb, into a private PulseAudio null sink through ALSA's default. Playing turns the
# panel on in the spectrum view (the scrolling kind); the script then clicks the window's
# "Spectrum" key through the X server to measure the bar kinds too. For each kind: the process's
# CPU time per second of playback (after a warm-up) and its peak resident memory so far.
#
# Targets (those of the player alone): CPU <= 7 ms per second of playback, peak RSS <= 48 MB.
#
# Usage: bench/equalizer_window_playing.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-20}
warmup=4

for tool in Xvfb xdotool pulseaudio pactl sox lame; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)" >&2; exit 2; }
done
ours=""
for candidate in "$build/tunefold" "$build/app/tunefold"; do
    [ -x "$candidate" ] && ours=$candidate && break
done
[ -n "$ours" ] || { echo "no tunefold program in $build: build the tunefold target first" >&2; exit 2; }

work=$(mktemp -d /tmp/tunefold-eqbench-XXXXXX)
cleanup() {
    [ -n "${player_pid:-}" ] && kill "$player_pid" 2>/dev/null || true
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

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/home/.cache"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
socket="$XDG_RUNTIME_DIR/pulse-native"
cat > "$work/server.pa" <<EOS
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=bench_sink rate=44100 channels=2 format=s16le
set-default-sink bench_sink
EOS
export PULSE_SERVER="unix:$socket"
root_flag=(); [ "$(id -u)" -eq 0 ] && root_flag=(--system=false)
pulseaudio -n --daemonize=no --exit-idle-time=-1 "${root_flag[@]}" --disallow-exit --disable-shm=yes \
    -F "$work/server.pa" >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { echo "PulseAudio did not start: $(tail -3 "$work/pulse.log")" >&2; exit 2; }

display=":$((80 + RANDOM % 9))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
unset WAYLAND_DISPLAY QT_QPA_PLATFORM TUNEFOLD_PLATFORM

clk=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

"$ours" --play "$mp3" >"$work/tunefold.log" 2>&1 &
player_pid=$!
eq=""
for _ in $(seq 400); do
    eq=$(xdotool search --onlyvisible --name '^Tunefold Equalizer$' 2>/dev/null | head -1) && [ -n "$eq" ] && break
    kill -0 "$player_pid" 2>/dev/null || break
    sleep 0.025
done
[ -n "$eq" ] || { echo "the equalizer window did not show: $(tail -3 "$work/tunefold.log")" >&2; exit 1; }

# measure KIND: CPU per second of playback and the peak RSS, in the view now shown.
results=()
measure() {
    sleep "$warmup"
    local c0 c1 rss
    c0=$(cpu_ticks "$player_pid")
    sleep "$seconds"
    c1=$(cpu_ticks "$player_pid")
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$player_pid/status")
    results+=("$(awk -v n="$1" -v c="$((c1 - c0))" -v k="$clk" -v s="$seconds" -v r="$rss" \
        'BEGIN {printf "%s %.2f %.1f", n, c * 1000 / k / s, r / 1024}')")
}
# The "Spectrum" key's middle, in the window's coordinates.
next_kind() { xdotool mousemove --window "$eq" 53 163 click 1; }

measure scroll
next_kind
measure bars
next_kind; next_kind; next_kind
measure peaks
[ "$(pactl list short sink-inputs 2>/dev/null | wc -l)" -ge 1 ] || echo "warning: no stream reached the sound server" >&2

printf '%-8s %16s %14s\n' kind "CPU ms/s played" "peak RSS MB"
worst_cpu=0; worst_rss=0
for line in "${results[@]}"; do
    printf '%-8s %16s %14s\n' $line
    set -- $line
    worst_cpu=$(awk -v a="$worst_cpu" -v b="$2" 'BEGIN {print (b > a) ? b : a}')
    worst_rss=$(awk -v a="$worst_rss" -v b="$3" 'BEGIN {print (b > a) ? b : a}')
done
awk -v c="$worst_cpu" -v r="$worst_rss" 'BEGIN {
    printf "worst CPU: %.2f ms/s (target <= 7) %s\n", c, (c <= 7) ? "ok" : "OVER"
    printf "peak RSS: %.1f MB (target <= 48) %s\n", r, (r <= 48) ? "ok" : "OVER"
}'
