#!/usr/bin/env bash
# Fetches the source packages pinned in sources.txt through apt into DEST,
# one folder per package named as in sources.txt (DEST/zlib, DEST/libpng1.6,
# ...), each unpacked with Debian's patches applied. Only Debian's own
# archives of this machine's apt configuration are asked, through a scratch
# apt configuration for source packages: the machine's own is left as it is.
# A version the archive no longer has, or a .dsc whose hash differs from
# the pin, fails the whole fetch.
#
#     web/deps/fetch.sh DEST
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=$(realpath -m "$1")
work=$(mktemp -d)
chmod 755 "$work" # apt fetches as its own user
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/parts" "$work/lists/partial" "$work/get"
chmod 755 "$work/get"

# deb-src entries for every archive signed with Debian's archive key.
for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    awk -v RS= -v ORS='\n\n' '/debian-archive-keyring/' "$f" | sed 's/^Types: deb$/Types: deb-src/' \
        >"$work/parts/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] && sed -n 's/^deb \(\[[^]]*\] \)\?\(\S*debian\S*\) /deb-src \1\2 /p' "$f" >>"$work/parts/src.list"
done
opts=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$work/parts" -o Dir::State::Lists="$work/lists")
apt-get "${opts[@]}" update >/dev/null

while read -r package version sha; do
    [[ -z $package || $package == \#* ]] && continue
    rm -rf "${work:?}/get/"*
    if ! (cd "$work/get" && apt-get "${opts[@]}" source --only-source "$package=$version" >"$work/log" 2>&1); then
        cat "$work/log" >&2
        echo "web/deps: $package $version could not be fetched; the archive has:" \
            $(apt-cache "${opts[@]}" showsrc "$package" | sed -n 's/^Version: //p' | sort -uV) >&2
        exit 1
    fi
    dsc=$(find "$work/get" -maxdepth 1 -name '*.dsc')
    got=$(sha256sum "$dsc" | cut -d' ' -f1)
    [[ $got == "$sha" ]] || { echo "web/deps: $(basename "$dsc") has SHA-256 $got, pinned $sha" >&2; exit 1; }
    tree=$(find "$work/get" -mindepth 1 -maxdepth 1 -type d)
    rm -rf "${dest:?}/$package"
    mkdir -p "$dest"
    mv "$tree" "$dest/$package"
    echo "web/deps: $package $version"
done <"$here/sources.txt"
