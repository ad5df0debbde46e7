# bash completion for voltanis: the options, and after -o and -i the names
# of the ports that `voltanis -l` lists.

# The port names under one heading of `voltanis -l` (OUT or IN), a line
# each: the list puts the name after the number, padded to 32 columns when
# an ALSA address and client follow it.
_voltanis_ports()
{
    "$1" -l 2>/dev/null | awk -v want="MIDI $2 ports:" '
        /^MIDI (OUT|IN) ports:$/ { on = ($0 == want); next }
        on && /^ *[0-9]+  / {
            name = substr($0, 6)
            if (length(name) > 32 && substr(name, 33) ~ /^[0-9]+:[0-9]+/)
                name = substr(name, 1, 32)
            sub(/ +$/, "", name)
            print name
        }'
}

_voltanis()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()

    local dir=""
    case $prev in
        -o|--out) dir=OUT ;;
        -i|--in) dir=IN ;;
        -C|--dir|--syx)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        -f|--send-file|--smf|--record)
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        -s|--send|--gap|--wait|--expect|--expect-sysex|--timeout|--channel)
            return ;;
        --hide|--only)
            COMPREPLY=($(compgen -W "note poly cc program pressure bend sysex mtc spp song tune clock sense transport reset" -- "${cur##*,}"))
            return ;;
    esac
    if [[ -n $dir ]]; then
        local name
        while IFS= read -r name; do
            [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
        done < <(_voltanis_ports "${COMP_WORDS[0]}" "$dir")
        return
    fi
    if [[ $cur == --color=* ]]; then
        COMPREPLY=($(compgen -W "auto always never" -- "${cur#--color=}"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-h --help -V --version -l --list -o --out -i --in -C --dir
            -s --send -t --timestamps --syx --gap --smf --force -x --explain --hide --only
            --channel -f --send-file --slow -v --verbose -q --quiet --wait --expect
            --expect-sysex --timeout -L --listen --json --color --color= --record --virtual --virtual=" -- "$cur"))
    fi
}
complete -F _voltanis voltanis
