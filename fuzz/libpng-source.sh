#!/usr/bin/env bash
# Fetches Debian's libpng source package (upstream source with Debian's
# patches applied) into DEST, once, so that the fuzz build can compile
# libpng's own code with the fuzzer's coverage and the sanitizers. The apt
# configuration for source packages is made in a scratch folder; the
# machine's own is left as it is. Newer versions come first; one whose files
# the mirror no longer has is passed over.
#
#     fuzz/libpng-source.sh DEST
set -euo pipefail
dest=$(realpath -m "$1")
[[ -f $dest/png.c ]] && exit 0
work=$(mktemp -d)
chmod 755 "$work" # apt fetches as its own user
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/parts" "$work/lists/partial" "$work/get"
for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] && sed 's/^Types: deb$/Types: deb-src/' "$f" >"$work/parts/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] && sed -n 's/^deb /deb-src /p' "$f" >>"$work/parts/src.list"
done
opts=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$work/parts" -o Dir::State::Lists="$work/lists")
apt-get "${opts[@]}" update >/dev/null
cd "$work/get"
for version in $(apt-cache "${opts[@]}" showsrc libpng1.6 | sed -n 's/^Version: //p' | sort -rV); do
    if apt-get "${opts[@]}" source "libpng1.6=$version" >/dev/null 2>&1; then
        echo "libpng1.6 $version source in $dest"
        break
    fi
    rm -rf "$work/get/"*
done
src=$(find "$work/get" -maxdepth 1 -type d -name 'libpng1.6-*' | head -n 1)
[[ -n $src ]] || { echo "no libpng1.6 source package could be fetched" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$src" "$dest"
