#!/usr/bin/env bash
# Every relative link in the project's Markdown resolves: to a file or
# folder, and for "page.md#anchor" (or "#anchor") to a heading of that page,
# by the anchors GitHub gives headings. Links to other sites are not
# followed. Only bash, GNU sed and awk: it runs on a fresh Debian machine.
#   check_links.sh [FILE.md...]   default: README.md and docs/*.md
#   check_links.sh --self-test    the check on pages made with known faults
set -uo pipefail
export LC_ALL=C.UTF-8 # letters beyond ASCII are letters in anchors too
root=$(cd "$(dirname "$0")/.." && pwd)

# A page's lines outside fenced code blocks, "NUMBER<TAB>LINE", without
# inline code spans (a link written as code is no link).
unfenced() { awk '/^ *(```|~~~)/ { fenced = !fenced; next } !fenced { print NR "\t" $0 }' "$1"; }
prose() { unfenced "$1" | sed -E 's/`[^`]*`//g'; }

# The anchors of a page's headings, one a line, as GitHub makes them: the
# text of the heading (links as their text) lower case, everything but
# letters, digits, spaces, '-' and '_' dropped, spaces made '-'; the second
# heading of the same anchor gets "-1", the third "-2". HTML anchors
# (<a id="..."> or name=) count too.
anchors() {
    unfenced "$1" | cut -f2- | sed -nE 's/^ {0,3}#{1,6}[ \t]+//p' | sed -E 's/[ \t]+#+[ \t]*$//; s/[ \t]+$//' |
        sed -E 's/!?\[([^]]*)\]\([^)]*\)/\1/g; s/.*/\L&/; s/[^[:alnum:] _-]//g; s/ /-/g' |
        awk '{ n = seen[$0]++; print n ? $0 "-" n : $0 }'
    sed -nE 's/.*<a (id|name)="([^"]+)".*/\2/p' "$1"
}

declare -A anchors_of
checked=0 with_anchor=0 pages=0 broken=0
# Inline links and pictures "](target)" or "](target "title")", reference
# definitions "[name]: target", and HTML src= and href=: the target is group
# 1, 3 or 5.
inline='\]\(([^)[:space:]]+)([[:space:]]+"[^"]*")?\)'
reference='^[[:space:]]*\[[^]]+\]:[[:space:]]+([^[:space:]]+)'
html='(src|href)="([^"]+)"'
check_page() {
    local page=$1 dir number line rest target path anchor where
    dir=$(dirname "$page")
    pages=$((pages + 1))
    while IFS=$'\t' read -r number line; do
        rest=$line
        while [[ $rest =~ $inline|$reference|$html ]]; do
            target=${BASH_REMATCH[1]}${BASH_REMATCH[3]}${BASH_REMATCH[5]}
            rest=${rest#*"${BASH_REMATCH[0]}"}
            [[ $target =~ ^[a-zA-Z][a-zA-Z0-9+.-]*: || $target == //* ]] && continue # another site
            checked=$((checked + 1))
            path=${target%%#*} anchor=
            [[ $target == *#* ]] && anchor=${target#*#}
            where=$page
            [ -n "$path" ] && where=$dir/$path
            if [ ! -e "$where" ]; then
                echo "$page:$number: $target: no such file" >&2
                broken=$((broken + 1))
                continue
            fi
            [ -n "$anchor" ] || continue
            with_anchor=$((with_anchor + 1))
            [ -v "anchors_of[$where]" ] || anchors_of[$where]=$'\n'$(anchors "$where")$'\n'
            if [[ ${anchors_of[$where]} != *$'\n'"$anchor"$'\n'* ]]; then
                echo "$page:$number: $target: no heading #$anchor in $where" >&2
                broken=$((broken + 1))
            fi
        done
    done < <(prose "$page")
}

if [ "${1:-}" = --self-test ]; then
    # Pages with every kind of link the check must take and three it must
    # refuse; the check must name exactly those three.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir "$scratch/docs"
    : >"$scratch/docs/picture.png"
    cat >"$scratch/docs/page.md" <<'EOF'
# The `lq2x` tool: options
## Same
## Same
<a id="kept-here"></a>
Back to the [start](../README.md#start-here).
EOF
    cat >"$scratch/README.md" <<'EOF'
# Start here
![a picture](docs/picture.png) and [a page](docs/page.md "its title"), a
[heading](docs/page.md#the-lq2x-tool-options), [the second of two](docs/page.md#same-1),
[an HTML anchor](docs/page.md#kept-here), [this page](#start-here), [a folder](docs),
[a site](https://example.com/nowhere.md), `[code](nowhere.md)`, <img src="docs/picture.png">,
[a reference]

[a reference]: docs/page.md#same

```
[fenced](nowhere.md)
```
Broken: [a file](docs/missing.md), [a heading](docs/page.md#no-such-heading) and [here](#nothing).
EOF
    log=$("$0" "$scratch/README.md" "$scratch/docs/page.md" 2>&1)
    status=$?
    printf '%s\n' "$log"
    faults=$(printf '%s\n' "$log" | grep -c ': no ' || true)
    if [ "$status" -ne 0 ] && [ "$faults" -eq 3 ] && [[ $log == *"docs/missing.md: no such file"* ]] &&
        [[ $log == *"#no-such-heading: no heading"* ]] && [[ $log == *"#nothing: no heading"* ]] &&
        [[ $log == *"13 relative links checked"* ]]; then
        echo "check_links.sh self-test: the 3 broken links of 13 found"
        exit 0
    fi
    echo "check_links.sh self-test: FAILED (status $status, $faults faults named)" >&2
    exit 1
fi

pages_given=("$@")
if ((${#pages_given[@]} == 0)); then
    cd "$root"
    pages_given=(README.md)
    for page in docs/*.md; do
        [ -e "$page" ] && pages_given+=("$page")
    done
fi
for page in "${pages_given[@]}"; do
    check_page "$page"
done
plural=s
[ "$pages" -eq 1 ] && plural=
echo "links: $checked relative links checked ($with_anchor to a heading) in $pages page$plural, $broken broken"
[ "$broken" -eq 0 ]
