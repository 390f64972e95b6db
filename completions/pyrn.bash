# bash completion for pyrn: options, their values, and files and directories for the path.
# Needs nothing from the bash-completion package, so it also works when sourced by hand.

# Offers the directories that start with the word, quoted and with a trailing slash.
_pyrn_directories() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$1")
}

# Offers the files and directories that start with the word.
_pyrn_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

# Offers the words of the list that start with the word being completed.
_pyrn_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_pyrn() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    case $prev in
    -f | --filter | -j | --exclude)
        return 0 # a pattern or a number: nothing sensible to offer
        ;;
    -I | --include-dir)
        _pyrn_directories "$cur"
        return 0
        ;;
    --cache)
        _pyrn_directories "$cur"
        return 0
        ;;
    --cache-remote)
        _pyrn_words 'redis://localhost:6379' "$cur"
        return 0
        ;;
    --shard)
        return 0 # K/N
        ;;
    -p | --compile-commands | --cache-key)
        _pyrn_files "$cur"
        return 0
        ;;
    --sort)
        _pyrn_words 'path' "$cur"
        return 0
        ;;
    --color)
        _pyrn_words 'always never auto' "$cur"
        return 0
        ;;
    -l | --language)
        _pyrn_words 'c c++ cuda objective-c objective-c++ c-header c++-header' "$cur"
        return 0
        ;;
    --std)
        _pyrn_words 'c++98 c++03 c++11 c++14 c++17 c++20 c++23 c++2c
            gnu++11 gnu++14 gnu++17 gnu++20 gnu++23' "$cur"
        return 0
        ;;
    esac

    # The first positional argument is the query (free text), the second the directory or file;
    # after "--" every word is positional.
    local i positionals=0 options_ended=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        if ((options_ended)); then
            ((positionals++))
            continue
        fi
        case ${COMP_WORDS[i]} in
        -f | --filter | -j | -I | --include-dir | -l | --language | --std | -p | --compile-commands | \
            --cache | --cache-remote | --shard | --sort | --exclude | --color | --cache-key)
            ((i++)) # the option's value is not a positional argument
            ;;
        --) options_ended=1 ;;
        -*) ;;
        *) ((positionals++)) ;;
        esac
    done

    if [[ $cur == -* ]] && ((!options_ended)); then
        _pyrn_words '-h --help -v --version -E --exact-match -f --filter -j
            --enum --struct --union --member-function --function --function-template -F
            --class --class-template --class-constructor --class-destructor -C
            --for-statement --namespace-alias --parameter-declaration --typedef
            --using-declaration --variable-declaration --verbose --ie --include-expressions
            --static-cast --dynamic-cast --reinterpret-cast --const-cast -c --throw-expression
            --isl --ignore-single-line-results -I --include-dir -l --language --std
            --nc --no-color --json --vimgrep --files-with-matches -p --compile-commands --cache
            --cache-remote --shard -i --ignore-case --regex -0 --null --full-parse --stats
            --sort --exclude --gitignore --color --no-progress --cache-key' "$cur"
        return 0
    fi
    if ((positionals == 1)); then
        _pyrn_files "$cur"
    fi
    return 0
}

complete -F _pyrn pyrn
