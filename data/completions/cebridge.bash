# bash completion for cebridge: commands, their options, and phone paths (a word that
# starts with / is completed from the phone's own listing, through `cebridge ls`).

_cebridge_phone_paths() {
    local word=$1 folder
    folder=${word%/*}
    [ -z "${folder}" ] && folder=/
    cebridge --json ls "${folder}" 2>/dev/null | awk -v base="${word%/*}" '
        /"folder": true/ { folder = 1 }
        /"folder": false/ { folder = 0 }
        /"name": / {
            name = $0
            sub(/^[^:]*: "/, "", name)
            sub(/",?$/, "", name)
            print base "/" name (folder ? "/" : "")
        }'
}

_cebridge() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n : || return
    else  # (without the bash-completion package's helpers)
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} cword=${COMP_CWORD}
        words=("${COMP_WORDS[@]}")
    fi
    declare -F _filedir >/dev/null || _filedir() { COMPREPLY=($(compgen -f -- "${cur}")); }
    local commands="info ls get put rm mkdir install apps contacts calendar calls sms backup restore sync shell batch serve"
    local global="--help --json --verbose --progress --device --rapi --plugin --log-dir --version"
    local command= sub= i
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
        -*) ;;
        *)
            if [ -z "${command}" ]; then command=${words[i]}; elif [ -z "${sub}" ]; then sub=${words[i]}; fi
            ;;
        esac
    done
    case "${prev}" in
    --device | --log-dir) _filedir -d; return ;;
    --rapi | --plugin) _filedir; return ;;
    esac
    if [ -z "${command}" ]; then
        if [[ "${cur}" == -* ]]; then COMPREPLY=($(compgen -W "${global}" -- "${cur}")); else
            COMPREPLY=($(compgen -W "${commands}" -- "${cur}")); fi
        return
    fi
    case "${command}" in
    contacts | calendar)
        [ -z "${sub}" ] && { COMPREPLY=($(compgen -W "show add edit rm export import" -- "${cur}")); return; } ;;
    calls) [ -z "${sub}" ] && { COMPREPLY=($(compgen -W "export" -- "${cur}")); return; } ;;
    sms) [ -z "${sub}" ] && { COMPREPLY=($(compgen -W "show rm export" -- "${cur}")); return; } ;;
    sync) [ -z "${sub}" ] && { COMPREPLY=($(compgen -W "add list rm" -- "${cur}")); return; } ;;
    esac
    if [[ "${cur}" == -* ]]; then
        COMPREPLY=($(compgen -W "$(cebridge ${command} ${sub} --help 2>/dev/null |
            grep -oE -- '--?[A-Za-z][A-Za-z-]*' | sort -u)" -- "${cur}"))
        return
    fi
    if [[ "${cur}" == /* ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(_cebridge_phone_paths "${cur}")" -- "${cur}"))
        compopt -o nospace
        return
    fi
    _filedir
}
complete -F _cebridge cebridge
