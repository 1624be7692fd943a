#!/usr/bin/env bash
# The manual page (tool/lq2x.1) held to the tool, so the two cannot drift:
#   man_page.sh options TOOL PAGE
#       every option `TOOL --help` lists is under the page's OPTIONS, with the
#       same name for its value (--scale N, --scale n), and every option there
#       is in the help; the page's version is the tool's.
#   man_page.sh groff PAGE
#       groff reads the page without a single warning (-ww: all of them).
# groff is Debian's groff-base (tests/run.sh installs it): without it both fail.
set -euo pipefail
mode=$1
shift
if ! command -v groff >/dev/null; then
    echo "man_page.sh: groff is missing (apt-get install groff-base)" >&2
    exit 1
fi

if [ "$mode" = groff ]; then
    warnings=$(timeout 60 groff -man -ww -z "$1" 2>&1)
    if [ -n "$warnings" ]; then
        printf '%s\n' "$warnings" >&2
        echo "man_page.sh: groff warns of $1" >&2
        exit 1
    fi
    echo "man page: groff -man -ww: no warnings"
    exit 0
fi

tool=$1 page=$2
[ "$mode" = options ] || { echo "man_page.sh: no mode '$mode'" >&2; exit 2; }
help=$(timeout 60 "$tool" --help)
# The help's options, "NAME VALUE" a line (VALUE "-" for a flag), lower case:
# from "  -o,--output-dir DIR   Write ..." and "  --scale N=2   2, 4 or 8".
help_options=$(printf '%s\n' "$help" | sed -nE 's/^  (-[^ =]+)( [A-Za-z][^ =]*)?(=[^ ]*)?  .*/\1\2/p' |
    while read -r names value; do
        for name in ${names//,/ }; do echo "$name ${value:--}"; done
    done | tr 'A-Z' 'a-z' | sort)
# The page's, from its OPTIONS section as groff sets it: each tag at the
# indent of a paragraph, "-o, --output-dir dir" (one line: lines of 1000 ens).
page_options=$(timeout 60 groff -man -Tascii -P-cbou -rLL=1000n -rHY=0 "$page" |
    sed -n '/^OPTIONS/,/^[A-Z]/p' | sed -nE 's/^       (-.*)/\1/p' |
    while read -r -a words; do
        value=-
        [[ ${words[-1]} == -* ]] || { value=${words[-1]}; unset 'words[-1]'; }
        for name in "${words[@]}"; do echo "${name%,} $value"; done
    done | tr 'A-Z' 'a-z' | sort)

status=0
if [ -z "$help_options" ] || [ -z "$page_options" ]; then
    echo "man_page.sh: no options read from the help or the page" >&2
    exit 1
fi
if [ "$help_options" != "$page_options" ]; then
    echo "man_page.sh: the help and the page differ (< only in the help, > only in the page):" >&2
    diff <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options") >&2 || true
    status=1
fi
version=$(timeout 60 "$tool" --version)
if ! grep -qE "^\.TH LQ2X 1 \"[^\"]*\" \"$version\"" "$page"; then
    echo "man_page.sh: the page's .TH line does not name '$version'" >&2
    status=1
fi
count=$(printf '%s\n' "$page_options" | wc -l)
[ "$status" -eq 0 ] && echo "man page: the $count option names of '$tool --help', each with its value's name; $version"
exit "$status"
