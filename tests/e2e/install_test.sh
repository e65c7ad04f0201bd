#!/usr/bin/env bash
# Installs the build into a staging folder the way a package build does (DESTDIR, prefix /usr),
# checks that every file a desktop needs is there and that the installed renderer finds its own
# decoder library, then uninstalls with the same script `make uninstall` runs and checks that
# exactly our files and our folders went away. Needs no root, no display and no sound card.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR HAS_PLAYER(0|1) BUILT_RENDERER [SANITIZER]
set -euo pipefail

build="${1:?build folder}"
source="${2:?source folder}"
has_player="${3:-0}"
built_render="${4:-}"
sanitizer="${5:-}"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work="$(mktemp -d)"
manifest="$build/install_manifest_tunefold.txt"
cleanup() {
    rm -rf -- "$work"
    rm -f -- "$manifest"
}
trap cleanup EXIT

# A folder named tunefold above the staging root: the uninstaller must only ever remove folders
# that are ours below the root, never the root's own.
stage="$work/tunefold/stage"
mkdir -p "$stage"
home="$work/home"
mkdir -p "$home"

if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr --component tunefold >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install failed (are the programs built?)" >&2
    exit 1
fi
[ -f "$manifest" ] || { echo "FAIL: no $manifest was written" >&2; exit 1; }

usr="$stage/usr"
expect_file() {
    [ -f "$1" ] && [ -s "$1" ] || fail "missing or empty: ${1#"$stage"}"
}

# --- what a desktop needs ---------------------------------------------------------------------
desktop="$usr/share/applications/tunefold.desktop"
expect_file "$desktop"
expect_file "$usr/share/icons/hicolor/scalable/apps/tunefold.svg"
for size in 16 24 32 48 64 128 256; do
    png="$usr/share/icons/hicolor/${size}x${size}/apps/tunefold.png"
    expect_file "$png"
    [ -f "$png" ] || continue
    # The PNG signature, then IHDR's width and height: the picture must be the size of its folder.
    signature="$(od -An -tx1 -N8 "$png" | tr -d ' \n')"
    width=$((16#$(od -An -tx1 -j16 -N4 "$png" | tr -d ' \n')))
    height=$((16#$(od -An -tx1 -j20 -N4 "$png" | tr -d ' \n')))
    [ "$signature" = "89504e470d0a1a0a" ] || fail "${size}x${size}/apps/tunefold.png is not a PNG"
    [ "$width" -eq "$size" ] && [ "$height" -eq "$size" ] ||
        fail "${size}x${size}/apps/tunefold.png is ${width}x${height}"
done

# The entry's names must be what was installed: its icon in the theme, its program in bin.
icon="$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null)"
exec_line="$(sed -n 's/^Exec=//p' "$desktop" 2>/dev/null)"
program="${exec_line%% *}"
[ -f "$usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "the entry's Icon=$icon is not in the theme"
case "$exec_line" in
    *%f*) ;;
    *) fail "the entry's Exec=$exec_line does not take a file (%f)" ;;
esac
if [ "$has_player" = "1" ]; then
    [ -x "$usr/bin/$program" ] || fail "the entry's program $program is not installed in bin"
fi

help="$usr/share/tunefold/Tunefold.html"
expect_file "$help"
for anchor in contents topic-1 topic-2 topic-3; do
    grep -q "id=\"$anchor\"" "$help" 2>/dev/null || fail "the help has no #$anchor"
done
if [ -f "$source/resources/skin0.bmp" ]; then
    expect_file "$usr/share/tunefold/skin0.bmp"
fi

# --- the installed renderer runs and finds its decoder library --------------------------------
render="$usr/bin/tunefold-render"
[ -x "$render" ] || fail "tunefold-render is not installed as a program"
library="$(find "$usr" -name libmmmpeg32.so -print -quit)"
case "$library" in
    "$usr"/lib*/tunefold/libmmmpeg32.so) ;;
    *) fail "the decoder library is not in <libdir>/tunefold: '${library#"$stage"}'" ;;
esac

run_render() {
    env -u LD_LIBRARY_PATH -u TUNEFOLD_HOME HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home" TUNEFOLD_PLATFORM=virtual \
        "$render" "$@"
}

if [ -x "$render" ]; then
    run_render --help >"$work/help.out" 2>&1 || fail "installed tunefold-render --help failed: $(cat "$work/help.out")"
    grep -q -- '--info' "$work/help.out" || fail "installed tunefold-render --help printed no usage"
fi

# The decoder's loader looks in the library's installed folder itself, so this holds in sanitizer
# builds too (where the dynamic loader would read the sanitizer runtime's RUNPATH, not ours).
check_decoder=1
[ -n "$sanitizer" ] && echo "$sanitizer sanitizer build: the decoder is found by the loader's own search"

if [ -x "$render" ] && [ "$check_decoder" = "1" ]; then
    # Twenty silent MPEG-1 layer III frames (128 kbit/s, 44.1 kHz, mono, no CRC: 417 bytes each, the
    # side information all zero), so the file is MPEG audio to any decoder and needs no encoder here.
    mp3="$work/silence.mp3"
    : >"$mp3"
    for _ in $(seq 20); do
        printf '\377\373\220\300' >>"$mp3"
        head -c 413 /dev/zero >>"$mp3"
    done
    if run_render --info "$mp3" >"$work/info.out" 2>&1; then
        grep -q 'Layer III' "$work/info.out" || fail "installed tunefold-render did not describe the MP3: $(cat "$work/info.out")"
    else
        fail "installed tunefold-render could not read an MP3: $(cat "$work/info.out")"
    fi

    # Without the staged library it must fail: the one it found above was the staged one, not the
    # build tree's or the system's.
    if [ -n "$library" ]; then
        mv "$library" "$library.aside"
        if run_render --info "$mp3" >"$work/info-without.out" 2>&1; then
            fail "tunefold-render read the MP3 without the staged library (it found another one)"
        fi
        grep -q 'Unable to load' "$work/info-without.out" ||
            fail "without its library tunefold-render said: $(cat "$work/info-without.out")"
        mv "$library.aside" "$library"
    fi
fi

# An empty entry in a RUNPATH is the current folder to the dynamic loader: a program carrying one
# loads any library planted where it is started. Neither the build tree's nor the installed ones.
if command -v readelf >/dev/null 2>&1; then
    for binary in "$built_render" "$usr"/bin/* "$library"; do
        [ -n "$binary" ] && [ -f "$binary" ] || continue
        runpath="$(readelf -d "$binary" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')"
        case ":$runpath:" in
            ::) ;;
            *::*) fail "${binary#"$stage"} has an empty RUNPATH entry (the current folder): [$runpath]" ;;
        esac
    done
else
    echo "readelf is missing: the RUNPATH check is skipped"
fi

# --- the manifest lists exactly what was installed --------------------------------------------
(cd "$stage" && find . \( -type f -o -type l \) | sed 's/^\.//' | sort) >"$work/staged.txt"
sort "$manifest" >"$work/listed.txt"
if ! diff -u "$work/listed.txt" "$work/staged.txt" >"$work/manifest.diff"; then
    fail "the manifest and the staged files differ:"
    cat "$work/manifest.diff" >&2
fi

# --- uninstall: our files and our emptied folders go, everything else stays ---------------------
mkdir -p "$usr/share/applications" "$usr/share/icons/hicolor/48x48/apps"
echo "[Desktop Entry]" >"$usr/share/applications/other.desktop"
echo "not ours" >"$usr/share/icons/hicolor/48x48/apps/other.png"
echo "$stage/" >"$work/stage.destdir"
if ! DESTDIR="$stage" "$source/scripts/uninstall" "$manifest" "$work/stage.destdir" >"$work/uninstall.log" 2>&1; then
    cat "$work/uninstall.log" >&2
    fail "the uninstall script failed"
fi
while IFS= read -r path || [ -n "$path" ]; do
    [ ! -e "$stage$path" ] && [ ! -L "$stage$path" ] || fail "still there after uninstall: $path"
done <"$manifest"
for folder in "$usr/share/tunefold" "$usr"/lib*/tunefold; do
    [ ! -e "$folder" ] || fail "folder still there after uninstall: ${folder#"$stage"}"
done
[ -f "$usr/share/applications/other.desktop" ] || fail "uninstall removed another program's desktop entry"
[ -f "$usr/share/icons/hicolor/48x48/apps/other.png" ] || fail "uninstall removed another program's icon"
[ -d "$usr/bin" ] || fail "uninstall removed the emptied bin folder, which is not ours"
[ -d "$stage" ] || fail "uninstall removed the staging root"

# An uninstall that names another DESTDIR than the install's record is refused and removes nothing
# (here a file of the listed name outside any staging folder, standing for the live system's).
mkdir -p "$work/live"
echo "someone else's" >"$work/live/tunefold-render"
echo "$work/live/tunefold-render" >"$work/live.manifest"
echo "$stage" >"$work/live.destdir"
if DESTDIR="" "$source/scripts/uninstall" "$work/live.manifest" "$work/live.destdir" >"$work/refused.log" 2>&1; then
    fail "uninstall without the install's DESTDIR was not refused"
fi
[ -f "$work/live/tunefold-render" ] || fail "a refused uninstall removed a file"
grep -q "DESTDIR='$stage'" "$work/refused.log" || fail "the refusal did not name the install's DESTDIR: $(cat "$work/refused.log")"

# A second uninstall finds nothing to remove and still succeeds.
DESTDIR="$stage" "$source/scripts/uninstall" "$manifest" >"$work/uninstall2.log" 2>&1 ||
    fail "a second uninstall failed: $(cat "$work/uninstall2.log")"

if [ "$failures" -ne 0 ]; then
    echo "install test: $failures failures" >&2
    exit 1
fi
echo "install test: staged install and uninstall passed"
