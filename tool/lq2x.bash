# bash completion for lq2x, installed as share/bash-completion/completions/lq2x.
#
# Nothing here lists what the tool takes, so nothing here can fall behind
# it: the options are read from `lq2x --help`, and the words an option's
# value may be from the tool's refusal of an empty one ("--rotate: wants
# none, ccw or cw, not ''"), which the library words from the tables it
# reads the value with. tests/completion.sh runs it against the tool.

# The options `lq2x --help` lists, one a line: its names, then the name of
# its value when it takes one ("-o --output-dir DIR", "-r --recursive").
_lq2x_options()
{
    "$1" --help 2>/dev/null | sed -nE 's/^  (-[^ =]+)( [A-Za-z][^ =]*)?(=[^ ]*)?  .*/\1\2/p' | tr ',' ' '
}

# The words option $2's value must be one of, one a line; none when its
# value is no word of a list (a number, a size).
_lq2x_values()
{
    local refusal item items
    refusal=$("$1" "$2" '' 2>&1 >/dev/null)
    [[ $refusal == *": wants "*", not ''" ]] || return 0
    refusal=${refusal#*: wants }
    refusal=${refusal%, not \'\'}
    refusal=${refusal//, or /, }
    refusal=${refusal// or /, }
    mapfile -t items <<<"${refusal//, /$'\n'}"
    # Words alone: "a whole number from 0 to 12" is no list, and the
    # edge's "two of them as H,V" is said by the comma below.
    for item in "${items[@]}"; do
        [[ $item =~ ^[a-z0-9][a-z0-9-]*$ ]] && printf '%s\n' "$item"
    done
}

_lq2x()
{
    local tool=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev= option= i
    tool=${tool/#\~/$HOME}
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # After "--" every word is a file.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            compopt -o filenames 2>/dev/null
            return 0
        fi
    done

    # The option whose value is being typed: the word before, or with
    # "--scale=4", which bash splits at '=', the word before the '='.
    if [[ $cur == = ]]; then
        option=$prev cur=
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $prev == -* ]]; then
        option=$prev
    fi

    local names=() words=() line value_name=
    while read -r line; do
        read -r -a words <<<"$line"
        if [[ ${words[-1]} == -* ]]; then
            names+=("${words[@]}")
        else
            names+=("${words[@]:0:${#words[@]}-1}")
            [[ " ${words[*]:0:${#words[@]}-1} " == *" $option "* ]] && value_name=${words[-1]}
        fi
    done < <(_lq2x_options "$tool")

    if [[ -n $value_name ]]; then
        if [[ $value_name == DIR ]]; then
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            compopt -o filenames 2>/dev/null
            return 0
        fi
        local values
        values=$(_lq2x_values "$tool" "$option")
        # A list of words may be given one for each axis, "clamp,wrap".
        local before=
        [[ $cur == *,* ]] && before=${cur%,*}, cur=${cur##*,}
        mapfile -t COMPREPLY < <(compgen -P "$before" -W "$values" -- "$cur")
        return 0
    fi

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${names[*]}" -- "$cur")
        return 0
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
    return 0
}

complete -F _lq2x lq2x
