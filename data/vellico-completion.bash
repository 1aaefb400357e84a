# bash completion for vellico: its options, file names after -i, -o, -j,
# --report and --password-file (joined, as in -iin.pdf, or as the next word),
# a folder after -f, and the words of -align, --blend and --stamp-page.

_vellico()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}

    case $prev in
    -i | -o | -j | --report | --password-file)
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    -f)
        COMPREPLY=($(compgen -d -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    -align) COMPREPLY=($(compgen -W 'left center right' -- "$cur")); return ;;
    --blend) COMPREPLY=($(compgen -W 'multiply darken' -- "$cur")); return ;;
    --stamp-page) COMPREPLY=($(compgen -W 'each' -- "$cur")); return ;;
    --shard) COMPREPLY=($(compgen -W 'auto' -- "$cur")); return ;;
    --font | --write-plan | --plan)
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    -s | -e | -send | -eend | -n | -opacity | -pos | -size | --jobs | --timeout | --memory-limit | --password | \
        --rotate | --text | --date | --font-index | --font-size | --color | --bates-start | --bates-digits | --bates-prefix | --bates-suffix) return ;;
    esac

    case $cur in
    -[iojf]?*)
        # The value joined to its letter: complete the name after it.
        local letter=${cur:0:2} name=${cur:2}
        if [ "$letter" = -f ]; then
            COMPREPLY=($(compgen -d -P "$letter" -- "$name"))
        else
            COMPREPLY=($(compgen -f -P "$letter" -- "$name"))
        fi
        ;;
    -*)
        local options='-i -o -j -f -s -e -useend -send -eend -n -size -align -noforce -pos -flipv -fliph
            -opacity -crop_marks -trim_marks --help -h --version
            --keep-going --jobs --timeout --memory-limit --report --dry-run --null -0 --list --skip-existing --shard --write-plan --plan --id --remove --remove-all --replace --layer --print-only --screen-only
            --incremental --annotation --underlay --blend --stamp-page --password --password-file --rotate --diagonal --outline --as-paths --text --date --font --font-index --font-size --color --bates-start --bates-digits --bates-prefix --bates-suffix
            -crop_blv -crop_blh -crop_tlv -crop_tlh -crop_brv -crop_brh -crop_trv -crop_trh
            -trim_blv -trim_blh -trim_tlv -trim_tlh -trim_brv -trim_brh -trim_trv -trim_trh'
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        ;;
    *)
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        ;;
    esac
}
complete -F _vellico vellico
