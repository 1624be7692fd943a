#!/usr/bin/env bash
# The bash completion (tool/lq2x.bash) against the tool, as bash calls it on
# TAB: COMP_WORDS and COMP_CWORD set, the completion function run, COMPREPLY
# compared with what each case expects, in a scratch folder of known files.
#   completion.sh TOOL SCRIPT
# Every word it completes for an option's value must be one the tool takes,
# and "-<TAB>" must give every option of the help's first column. (ctest's
# time limit ends a tool that never answers.)
set -uo pipefail
export LC_ALL=C
tool=$(realpath "$1")
source "$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
touch sprite.png sheet.png -- -dash.png
mkdir big

passed=0 failed=0
# expect "WORDS BEFORE TAB" "WORD AT TAB" "EXPECTED, sorted, space-separated"
expect() {
    local before=() cursor=$2 want=$3 got
    read -r -a before <<<"$1"
    COMP_WORDS=("$tool" "${before[@]}" "$cursor")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _lq2x
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [ "$got" = "$want" ]; then
        passed=$((passed + 1))
    else
        echo "FAILED: lq2x $1 '$cursor'<TAB>: gave '$got', wants '$want'" >&2
        failed=$((failed + 1))
    fi
}

expect "" "--sc" "--scale"
expect "" "--rot" "--rotate"
expect "--scale" "" "2 4 8"
expect "--scale =" "" "2 4 8"                 # --scale=<TAB>: bash splits at '='
expect "--rotate" "" "ccw cw none"
expect "--edge" "w" "wrap"
expect "--edge" "clamp,t" "clamp,transparent"
expect "--format" "p" "pam pgm png pnm ppm"
expect "--format" "" "gif pam pgm png pnm ppm raw webp"
expect "--pixel" "" "rgb24 rgb565le rgba"
expect "--gif-palette" "" "per-frame shared"
expect "--threads" "" ""                      # a number: nothing to offer
expect "--size" "" ""
expect "--tile" "" ""
expect "-o" "" "big"                          # folders only
expect "--output-dir" "b" "big"
expect "" "sp" "sprite.png"
expect "--rgb565" "s" "sheet.png sprite.png"  # a flag takes no value
expect "--scale 4 in.png" "" "-dash.png big sheet.png sprite.png"
expect "" "-d" ""                             # no option begins so
expect "--" "-d" "-dash.png"                  # after --, names only

# Every value offered is one the tool takes: refused, it would say "wants".
for option in --scale --rotate --edge --format --pixel --gif-palette; do
    COMP_WORDS=("$tool" "$option" "") COMP_CWORD=2
    _lq2x
    if [ "${#COMPREPLY[@]}" -eq 0 ]; then
        echo "FAILED: no values for $option" >&2
        failed=$((failed + 1))
    fi
    for value in "${COMPREPLY[@]}"; do
        extra=()
        [ "$option" = --pixel ] && extra=(--stream 2x2)
        if timeout 60 "$tool" "${extra[@]}" "$option" "$value" 2>&1 | grep -q "wants"; then
            echo "FAILED: the tool refuses $option $value" >&2
            failed=$((failed + 1))
        else
            passed=$((passed + 1))
        fi
    done
done

# "-<TAB>": every name in the first column of the help's options.
every=$(timeout 60 "$tool" --help | awk '/^Options:/ {on = 1; next} on && !NF {on = 0} on {print $1}' |
    tr ',' '\n' | sort | xargs)
expect "" "-" "$every"
[ -n "$every" ] || { echo "FAILED: no options read from the help" >&2; failed=$((failed + 1)); }

echo "completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
