# bash completion of Selwand, Marvick and kescopy (one script, installed
# under each command's name).

_kestrup_switches()
{
    case "$1" in
    Selwand) echo "/force /hide /dark /lang: /ini: /portable" ;;
    Marvick) echo "/ini: /delay: /interactive /dark /lang: /portable" ;;
    kescopy) echo "-z --gzip -Z --zip --store -l --level -e --encrypt --password-env -k --key-mode -V --verify -f --overwrite --check --buffer --threads -h --help" ;;
    esac
}

_kestrup()
{
    local cur command
    cur="${COMP_WORDS[COMP_CWORD]}"
    command="${1##*/}"
    compopt +o nospace 2>/dev/null
    case "$cur" in
    /ini:* | -ini:*)
        # The value after the colon is a file name.
        local prefix="${cur%%:*}:"
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "${cur#*:}"))
        COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
        return
        ;;
    /* | -*)
        COMPREPLY=($(compgen -W "$(_kestrup_switches "$command")" -- "$cur"))
        # A switch that takes a value goes on after its colon.
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
        return
        ;;
    esac
    if [[ $command == kescopy ]]; then
        case "${COMP_WORDS[COMP_CWORD - 1]}" in
        -k | --key-mode) COMPREPLY=($(compgen -W "1 2 3" -- "$cur")); return ;;
        -l | --level) COMPREPLY=($(compgen -W "0 1 6 9" -- "$cur")); return ;;
        --password-env) COMPREPLY=($(compgen -v -- "$cur")); return ;;
        --buffer | --threads) return ;;
        esac
    fi
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _kestrup -o filenames Selwand Marvick kescopy
