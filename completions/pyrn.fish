# fish completion for pyrn: options with their help texts, their values, and files and
# directories for the path.

# The number of positional arguments (query, path) before the word being completed; after
# "--" every word is one.
function __pyrn_positionals
    set -l words (commandline -opc)
    set -l count 0
    set -l skip 0
    set -l options_ended 0
    for word in $words[2..-1]
        if test $options_ended -eq 1
            set count (math $count + 1)
        else if test $skip -eq 1
            set skip 0
        else if test "$word" = --
            set options_ended 1
        else if contains -- $word -f --filter -j -I --include-dir -l --language --std -p --compile-commands --cache --cache-remote --shard --sort --exclude --color --cache-key
            set skip 1 # the option's value is not a positional argument
        else if not string match -q -- '-*' $word
            set count (math $count + 1)
        end
    end
    echo $count
end

complete -c pyrn -f
complete -c pyrn -n 'test (__pyrn_positionals) -eq 1' -F

complete -c pyrn -s h -l help -d 'Shows help message and exits'
complete -c pyrn -s v -l version -d 'prints version information and exits'
complete -c pyrn -s E -l exact-match -d 'Only consider exact matches'
complete -c pyrn -s f -l filter -x -d 'Only evaluate files that match filter pattern'
complete -c pyrn -s j -x -d 'Number of threads'
complete -c pyrn -l enum -d 'Search for enum declaration'
complete -c pyrn -l struct -d 'Search for struct declaration'
complete -c pyrn -l union -d 'Search for union declaration'
complete -c pyrn -l member-function -d 'Search for class member function declaration'
complete -c pyrn -l function -d 'Search for function declaration'
complete -c pyrn -l function-template -d 'Search for function template declaration'
complete -c pyrn -s F -d 'Search for any function or function template or class member function'
complete -c pyrn -l class -d 'Search for class declaration'
complete -c pyrn -l class-template -d 'Search for class template declaration'
complete -c pyrn -l class-constructor -d 'Search for class constructor declaration'
complete -c pyrn -l class-destructor -d 'Search for class destructor declaration'
complete -c pyrn -s C -d 'Search for any class or class template or struct'
complete -c pyrn -l for-statement -d 'Search for `for` statement'
complete -c pyrn -l namespace-alias -d 'Search for namespace alias'
complete -c pyrn -l parameter-declaration -d 'Search for function or method parameter'
complete -c pyrn -l typedef -d 'Search for typedef declaration'
complete -c pyrn -l using-declaration -d 'Search for using declarations, using directives, and type alias declarations'
complete -c pyrn -l variable-declaration -d 'Search for variable declaration'
complete -c pyrn -l verbose -d 'Request verbose output'
complete -c pyrn -l ie -l include-expressions -d 'Search for expressions that refer to some value or member, e.g., function, variable, or enumerator.'
complete -c pyrn -l static-cast -d 'Search for static_cast'
complete -c pyrn -l dynamic-cast -d 'Search for dynamic_cast'
complete -c pyrn -l reinterpret-cast -d 'Search for reinterpret_cast'
complete -c pyrn -l const-cast -d 'Search for const_cast'
complete -c pyrn -s c -d 'Search for any static_cast, dynamic_cast, reinterpret_cast, orconst_cast expression'
complete -c pyrn -l throw-expression -d 'Search for throw expression'
complete -c pyrn -l isl -l ignore-single-line-results -d 'Ignore forward declarations, member function declarations, etc.'
complete -c pyrn -s I -l include-dir -x -a '(__fish_complete_directories)' -d 'Additional include directories'
complete -c pyrn -s l -l language -x -a 'c c++ cuda objective-c objective-c++ c-header c++-header' -d 'Language option used by clang'
complete -c pyrn -l std -x -a 'c++98 c++03 c++11 c++14 c++17 c++20 c++23 c++2c gnu++11 gnu++14 gnu++17 gnu++20 gnu++23' -d 'C++ standard to be used by clang'
complete -c pyrn -l nc -l no-color -d 'Stops pyrn from coloring the output'
complete -c pyrn -l json -d 'Print one JSON object per match, one per line'
complete -c pyrn -l vimgrep -d 'Print path:line:column:text for each match'
complete -c pyrn -l files-with-matches -d 'Print only the path of each file with a match'
complete -c pyrn -s p -l compile-commands -r -F -d 'Parse with the arguments of this compile_commands.json or of the one in this build directory'
complete -c pyrn -l cache -x -a '(__fish_complete_directories)' -d 'Keep what parses find in this directory and answer later searches from it'
complete -c pyrn -s i -l ignore-case -d 'Match ASCII letters without case'
complete -c pyrn -l regex -d 'Take the query as a regular expression (RE2)'
complete -c pyrn -s 0 -l null -d 'Follow each path of --files-with-matches with a NUL byte, not a line feed'
complete -c pyrn -l cache-remote -x -d "Share the cache's entries through this Redis server, redis://HOST[:PORT][/DB], behind --cache or alone"
complete -c pyrn -l shard -x -d 'Search only the K-th of N parts of the tree, K/N with 0 <= K < N, as N jobs that fill a shared cache together'
complete -c pyrn -l full-parse -d 'Parse every file with all the function bodies of its headers, as --verbose does'
complete -c pyrn -l stats -d 'Print on standard error how many files were read, parsed and answered from the cache'
complete -c pyrn -l sort -x -a path -d "path: print the files in byte order of their paths and each file's matches in source order"
complete -c pyrn -l exclude -x -d 'Skip the files and folders whose name or path below the search path matches this pattern'
complete -c pyrn -l gitignore -d 'Skip what git ignores: .gitignore files, .git/info/exclude, the global excludes file'
complete -c pyrn -l color -x -a 'always never auto' -d 'Colour the output: always, never (as --nc) or auto (on a terminal; the default)'
complete -c pyrn -l no-progress -d 'Show no progress line on a terminal'
complete -c pyrn -l cache-key -r -F -d "Store the cache's entries with a MAC under the secret in this file, which only you can read, and take no entry without one"
