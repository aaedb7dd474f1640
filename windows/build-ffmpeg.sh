#!/usr/bin/env bash
# Usage: windows/build-ffmpeg.sh i686|x86_64
# Cross-builds the LGPL FFmpeg that librecmux.dll links from Debian's own ffmpeg
# source, the version of the installed libavcodec-dev, into a cache outside the
# checkout. Progress goes to stderr; the last stdout line is the prefix.
set -euo pipefail

arch=${1:-}
case $arch in
i686) ff_arch=x86_32 ;;
x86_64) ff_arch=x86_64 ;;
*) echo "usage: $0 i686|x86_64" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
script=$here/$(basename "$0")
cache=${RECMUX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/recmux}
say() { echo "build-ffmpeg($arch): $*" >&2; }

# shellcheck disable=SC2054 # configure takes comma-separated lists
config=(
    --arch="$ff_arch" --target-os=mingw32 --enable-cross-compile
    --cross-prefix="$host-" --cc="$host-gcc-posix"
    --enable-shared --disable-static --build-suffix=-recmux
    --disable-everything --disable-autodetect --enable-w32threads
    --disable-programs --disable-doc --disable-network
    --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc
    --enable-protocol=file,pipe
    --enable-muxer=mp4,mov
    --enable-demuxer=mov,h264,hevc,m4v,mpegts,matroska,wav
    --enable-parser=h264,hevc,mpeg4video,aac
    --enable-bsf=h264_mp4toannexb,hevc_mp4toannexb,mpeg4_unpack_bframes,dump_extradata,extract_extradata,aac_adtstoasc
    --enable-encoder=aac
    --enable-decoder=h264,hevc,mpeg4,aac,pcm_alaw,pcm_mulaw,pcm_s16le
    # Neither libgcc's nor winpthreads' DLL to ship: without the -posix driver's
    # -lpthread, avutil takes its time and sleep from Windows, as MSVC builds do.
    --extra-ldflags="-static-libgcc -no-pthread"
)
# MSVC's x86 code keeps the stack only 4-byte aligned; GCC and FFmpeg's assembly
# assume 16, and configure adds nothing for GCC on mingw32. FFmpeg's entry points
# that reach SIMD (avcodec_open2, avcodec_send_*/receive_*, swr_convert, its thread
# starts) realign themselves (force_align_arg_pointer), so no flag is added here:
# -mincoming-stack-boundary=2 would take EBP and breaks CABAC's inline assembly.

# The source version of the Linux libavcodec-dev, so both builds use one FFmpeg.
source_version() {
    local v
    v=$(dpkg-query -W -f='${db:Status-Abbrev} ${source:Version}' libavcodec-dev 2>/dev/null |
        awk '$1 == "ii" { print $2 }')
    [ -n "$v" ] || v=$(apt-cache show --no-all-versions libavcodec-dev 2>/dev/null |
        awk '/^Version:/ { v = $2 } /^Source:.*\(/ { s = $3 } END { gsub(/[()]/, "", s); print s ? s : v }')
    echo "$v"
}

# The contents only: any checkout of the same script shares the cache.
key=$(cat "$script" <(printf '%s\n' "${config[@]}") | sha256sum | cut -c1-12)
version=$(source_version)
prefix_for() { echo "$cache/ffmpeg-${1#*:}-$key-$arch"; }
if [ -n "$version" ] && [ -f "$(prefix_for "$version")/recmux-complete" ]; then
    prefix_for "$version"
    exit 0
fi

mkdir -p "$cache"
# Both arches may run at once: one of them at a time touches apt and the source.
exec 9>"$cache/.setup.lock"
flock 9

mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$root/.ci/packages-windows")
missing=()
for p in "${wanted[@]}"; do
    [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null) == ii* ]] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    if [[ " ${missing[*]} " == *:i386\ * && " $(dpkg --print-foreign-architectures | tr '\n' ' ') " != *" i386 "* ]]; then
        dpkg --add-architecture i386
    fi
    apt-get update >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >&2
fi
[ -n "$version" ] || version=$(source_version)
[ -n "$version" ] || { say "no libavcodec-dev version known to apt"; exit 1; }
prefix=$(prefix_for "$version")
if [ -f "$prefix/recmux-complete" ]; then
    echo "$prefix"
    exit 0
fi

# apt-get source needs a deb-src entry; mirror the machine's own deb entries.
known=$(apt-cache showsrc --only-source ffmpeg 2>/dev/null || true)
if ! grep -qxF "Version: $version" <<<"$known"; then
    say "adding deb-src entries next to the machine's deb entries"
    shopt -s nullglob
    deb822=()
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ $f == */recmux-deb-src.sources ]] || deb822+=("$f")
    done
    onelines=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    shopt -u nullglob
    stanzas=$([ ${#deb822[@]} -eq 0 ] || awk '
        function flush() { if (types ~ /(^|[ \t])deb([ \t]|$)/ && !off && body != "") printf "Types: deb-src\n%s\n", body; types = ""; off = 0; body = "" }
        FNR == 1 { flush() }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^Types:/ { types = $0; sub(/^Types:/, "", types); next }
        /^Enabled:[ \t]*[Nn]o/ { off = 1 }
        { body = body $0 "\n" }
        END { flush() }' "${deb822[@]}")
    lines=$(for f in "${onelines[@]}"; do
        [[ $f == */recmux-deb-src.list || ! -f $f ]] || cat "$f"
    done | sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p')
    [ -z "$stanzas" ] || printf '%s\n' "$stanzas" >/etc/apt/sources.list.d/recmux-deb-src.sources
    [ -z "$lines" ] || printf '%s\n' "$lines" >/etc/apt/sources.list.d/recmux-deb-src.list
    apt-get update >&2
fi

upstream=${version#*:}
upstream=${upstream%-*}
src=$cache/src/ffmpeg_${version#*:}
if [ ! -f "$src/recmux-unpacked" ]; then
    say "fetching the ffmpeg $version source"
    rm -rf "$src" "$src.tmp"
    mkdir -p "$src.tmp"
    # apt downloads as _apt where it can.
    id _apt >/dev/null 2>&1 && [ "$(id -u)" = 0 ] && chown _apt "$src.tmp"
    (cd "$src.tmp" && apt-get source "ffmpeg=$version" >&2)
    rm -f "$src.tmp"/*.tar.*
    touch "$src.tmp/recmux-unpacked"
    mv "$src.tmp" "$src"
fi
flock -u 9
ffsrc=$src/ffmpeg-$upstream

work=$cache/work/$(basename "$prefix")
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
say "configuring in $work"
if ! "$ffsrc/configure" --prefix="$prefix" "${config[@]}" >configure.log 2>&1; then
    tail -n 30 configure.log >&2
    exit 1
fi
# configure only warns about a component name it does not know.
if grep -i 'did not match anything' configure.log >&2; then
    exit 1
fi

# LGPL 2.1 only: neither GPL, nonfree nor version 3 parts, nor a GPL license string.
for want in '#define CONFIG_GPL 0' '#define CONFIG_NONFREE 0' '#define CONFIG_VERSION3 0' \
    '#define FFMPEG_LICENSE "LGPL version 2.1 or later"'; do
    grep -qxF "$want" config.h || { say "config.h lacks: $want"; exit 1; }
done
for want in '!CONFIG_GPL=yes' '!CONFIG_NONFREE=yes' '!CONFIG_VERSION3=yes'; do
    grep -qxF "$want" ffbuild/config.mak || { say "ffbuild/config.mak lacks: $want"; exit 1; }
done

say "building"
if ! { make -j"$(nproc)" && make install; } >build.log 2>&1; then
    tail -n 30 build.log >&2
    exit 1
fi

# Each library's own *_license() text, as built.
for lib in avutil avcodec avformat swresample; do
    dll=$(ls "$prefix"/bin/"$lib"-recmux-*.dll)
    grep -qaF "lib$lib license: LGPL version 2.1 or later" "$dll" ||
        { say "$dll does not report LGPL 2.1"; exit 1; }
done
# Only Windows' own DLLs and each other.
for dll in "$prefix"/bin/*.dll; do
    "$host-objdump" -p "$dll" | awk '/DLL Name:/ { print $3 }' | while read -r import; do
        shopt -s nocasematch
        [[ $import =~ ^(kernel32|msvcrt|bcrypt|user32|advapi32|(avutil|avcodec|avformat|swresample)-recmux-[0-9]+)\.dll$ ]] ||
            { say "$(basename "$dll") imports $import"; exit 1; }
    done
done

rm -rf "$prefix/share/ffmpeg"
licenses=$prefix/share/licenses/ffmpeg
mkdir -p "$licenses"
cp "$ffsrc/COPYING.LGPLv2.1" "$ffsrc/LICENSE.md" "$licenses/"
cp "$ffsrc/debian/copyright" "$licenses/debian-copyright"
cp "$src"/ffmpeg_*.dsc "$licenses/"
for arg in "$ffsrc/configure" --prefix="$prefix" "${config[@]}"; do
    [[ $arg =~ ^[-A-Za-z0-9_./=,:+]*$ ]] && printf '%s ' "$arg" || printf "'%s' " "$arg"
done | sed 's/ $/\n/' >"$licenses/configure-line.txt"
cat >"$licenses/SOURCE.txt" <<EOF
FFmpeg $upstream as Debian 12 ships it: source package ffmpeg, version $version,
fetched with \`apt-get source ffmpeg=$version\` (its .dsc, with the checksums of
the upstream tarball and of Debian's changes, is beside this file), built
unchanged by windows/build-ffmpeg.sh with the configure line in configure-line.txt.
License: LGPL version 2.1 or later (config.h: CONFIG_GPL 0, CONFIG_NONFREE 0,
CONFIG_VERSION3 0; each DLL's *_license() text says "LGPL version 2.1 or later").
Debian's patches applied:
$(sed 's/^/  /' "$ffsrc/debian/patches/series")
EOF
touch "$prefix/recmux-complete"
cd /
rm -rf "$work"
rmdir "$cache/work" 2>/dev/null || true
say "done"
echo "$prefix"
