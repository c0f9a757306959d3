# bash completion for zorbelu. The options of each command come from the
# program's own help, so they never drift from what it accepts.
_zorbelu() {
    local cur prev command
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="info verify create certs tsa-cert services roots show token-dialog demo version help"
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi
    command=${COMP_WORDS[1]}
    case $prev in
        help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
        --policy) COMPREPLY=($(compgen -W "1 2 3" -- "$cur")); return ;;
        --alg) COMPREPLY=($(compgen -W "sha1 md5 sha256 sha384 sha512" -- "$cur")); return ;;
        --batch) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --lang) COMPREPLY=($(compgen -W "DEU" -- "$cur")); return ;;
        --zone) COMPREPLY=($(compgen -W "local utc" -- "$cur")); return ;;
        --out) if [ "$command" = create ]; then COMPREPLY=($(compgen -f -- "$cur")); else COMPREPLY=($(compgen -d -- "$cur")); fi; return ;;
        --ca-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --timeout|--proxy|--proxy-user|--digest|--at|--tsa|--jobs) return ;;
        --data|--chain-of|--token|--ca-file|--untrusted) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    if [ "$command" = roots ] && [ "$COMP_CWORD" -eq 2 ]; then
        COMPREPLY=($(compgen -W "add test delete" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$("${COMP_WORDS[0]}" "$command" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _zorbelu zorbelu
