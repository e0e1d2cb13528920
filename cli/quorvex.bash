# bash completion for quorvex
_quorvex() {
    local cur prev command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    command=${COMP_WORDS[1]}
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "export info view help version --help --help-all --version" -- "$cur"))
        return
    fi
    case $prev in
        -o|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --frames|--fps|--scale|--clip|--frame|--every|--size|--yaw|--pitch) return ;;
        --mirror) COMPREPLY=($(compgen -W "x y z" -- "$cur")); return ;;
    esac
    local flags
    case $command in
        export) flags="-o --output --hi-precision --alpha --single-frame --frames --fps --scale --mirror --clip
                       --no-up-fix --list-clips --secure -q --quiet -v --verbose --help" ;;
        info) flags="--json --help" ;;
        view) flags="-o --output --frame --sheet --every --skin --animate --size --yaw --pitch --help" ;;
        help) COMPREPLY=($(compgen -W "export info view version" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$flags" -- "$cur"))
    else
        case $command in
            info|view) COMPREPLY=($(compgen -f -X '!*.@(mdl|MDL)' -- "$cur") $(compgen -d -- "$cur")) ;;
            *) COMPREPLY=($(compgen -f -- "$cur")) ;;
        esac
    fi
}
complete -o filenames -F _quorvex quorvex
