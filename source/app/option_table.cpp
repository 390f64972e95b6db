#include "app/option_table.hpp"

#include <iterator>

namespace pyrn {

namespace {

using k = search::kind_choice;

// Each row: names, group, help, the rest of the manual's entry, the value, the kind fields, and
// where needed the exclusive group, the conflicts and whether argparse adds the option.
constexpr option_row rows[] = {
    {{"-h", "--help"},
     option_group::general,
     "Shows help message and exits",
     R"(The help listing is written to standard output and
.B pyrn
exits with status 0.
It is printed when
.I query
or
.I path
is missing; given together with both, the option has no effect and the search runs.)",
     {},
     {},
     /* exclusive_group */ "",
     /* conflicts */ "*"},
    {{"-v", "--version"},
     option_group::general,
     "prints version information and exits",
     R"(The version number and a newline are written to standard output and
.B pyrn
exits with status 0, wherever the option stands and even without
.I query
and
.IR path .)",
     {},
     {},
     /* exclusive_group */ "",
     /* conflicts */ "*",
     /* from_parser */ true},
    {{"-E", "--exact-match"},
     option_group::general,
     "Only consider exact matches",
     R"(With the name test, an entity's name must be equal to
.I query
instead of containing it; references and field declarations
.RB ( \%\-\-include\-expressions )
then never match.
The option has no effect on the text test, and so none on a search without kind options.)"},
    {{"-f", "--filter"},
     option_group::general,
     "Only evaluate files that match filter pattern",
     R"(The default
.B *.*
is special: it selects the files by their extension (see
.BR "Selecting files" ).
Any other
.I pattern
is a shell wildcard pattern
.RB ( fnmatch (3)
without flags) that must match the whole path of a file as
.B pyrn
builds it: the
.I path
argument as typed, a slash and the components below it.
.B *
and
.B ?
also match a slash, so
.B *.inl
selects every file ending in .inl at any depth, while
.B main.cpp
selects nothing, since every path starts with the
.I path
argument.
Quote the pattern to keep the shell from expanding it.)",
     {takes::text, "pattern", value_hint::none, "", "*.*"}},
    {{"-j"},
     option_group::general,
     "Number of threads",
     R"(.I n
files are parsed at the same time (default 5);
.B 0
uses one thread per processor.
A negative
.I n
is an error (exit status 2).)",
     {takes::number, "n", value_hint::none, "", "5"}},
    {{"--enum"},
     option_group::kinds,
     "Search for enum declaration",
     R"(Matches enumerations, scoped or not.)",
     {},
     {&k::search_for_enum}},
    {{"--struct"},
     option_group::kinds,
     "Search for struct declaration",
     "",
     {},
     {&k::search_for_struct}},
    {{"--union"},
     option_group::kinds,
     "Search for union declaration",
     "",
     {},
     {&k::search_for_union}},
    {{"--member-function"},
     option_group::kinds,
     "Search for class member function declaration",
     R"(Matches member functions (methods) declared or defined in a class, and their definitions
outside it; constructors and destructors have options of their own.)",
     {},
     {&k::search_for_member_function}},
    {{"--function"},
     option_group::kinds,
     "Search for function declaration",
     R"(Matches functions that are not class members, declarations and definitions.)",
     {},
     {&k::search_for_function}},
    {{"--function-template"},
     option_group::kinds,
     "Search for function template declaration",
     R"(Matches function templates, member function templates included.)",
     {},
     {&k::search_for_function_template}},
    {{"-F"},
     option_group::kinds,
     "Search for any function or function template or class member function",
     "",
     {},
     {&k::search_for_function, &k::search_for_member_function, &k::search_for_function_template}},
    {{"--class"},
     option_group::kinds,
     "Search for class declaration",
     R"(Matches classes declared with
.BR class .)",
     {},
     {&k::search_for_class}},
    {{"--class-template"},
     option_group::kinds,
     "Search for class template declaration",
     "",
     {},
     {&k::search_for_class_template}},
    {{"--class-constructor"},
     option_group::kinds,
     "Search for class constructor declaration",
     "",
     {},
     {&k::search_for_class_constructor}},
    {{"--class-destructor"},
     option_group::kinds,
     "Search for class destructor declaration",
     "",
     {},
     {&k::search_for_class_destructor}},
    {{"-C"},
     option_group::kinds,
     "Search for any class or class template or struct",
     "",
     {},
     {&k::search_for_struct, &k::search_for_class, &k::search_for_class_template}},
    {{"--for-statement"},
     option_group::kinds,
     "Search for `for` statement",
     R"(Matches
.B for
loops, range\-based ones included.)",
     {},
     {&k::search_for_for_statement}},
    {{"--namespace-alias"},
     option_group::kinds,
     "Search for namespace alias",
     R"(Matches
.BI "namespace " name " = " other ;
declarations.)",
     {},
     {&k::search_for_namespace_alias}},
    {{"--parameter-declaration"},
     option_group::kinds,
     "Search for function or method parameter",
     "",
     {},
     {&k::search_for_parameter_declaration}},
    {{"--typedef"},
     option_group::kinds,
     "Search for typedef declaration",
     "",
     {},
     {&k::search_for_typedef}},
    {{"--using-declaration"},
     option_group::kinds,
     "Search for using declarations, using directives, and type alias declarations",
     R"(Matches
.BI "using " ns :: name ;\fR,\fP
.BI "using namespace " ns ;
and
.BI "using " alias " = " type ;\fR.\fP)",
     {},
     {&k::search_for_using_declaration}},
    {{"--variable-declaration"},
     option_group::kinds,
     "Search for variable declaration",
     R"(Matches global, local and static variables; class data members are field declarations (see
.BR \%\-\-include\-expressions ).)",
     {},
     {&k::search_for_variable_declaration}},
    {{"--verbose"},
     option_group::general,
     "Request verbose output",
     R"(Every file that contains
.I query
is announced on standard output with a line
.RI \(lqChecking " file" \(rq
before it is parsed, and libclang's diagnostics (warnings and errors about the code) are
written to standard error.)"},
    {{"--ie", "--include-expressions"},
     option_group::kinds,
     "Search for expressions that refer to some value or member, e.g., function, variable, or "
     "enumerator.",
     R"(References to declarations and to members, and field declarations (class data members), are
searched as well, in addition to the chosen kinds.
Such a match is reported as the whole source line that holds it, without its leading blanks, so
a line with three matching references is reported three times.)",
     {},
     {&k::include_expressions}},
    {{"--static-cast"},
     option_group::kinds,
     "Search for static_cast",
     "",
     {},
     {&k::search_for_static_cast}},
    {{"--dynamic-cast"},
     option_group::kinds,
     "Search for dynamic_cast",
     "",
     {},
     {&k::search_for_dynamic_cast}},
    {{"--reinterpret-cast"},
     option_group::kinds,
     "Search for reinterpret_cast",
     "",
     {},
     {&k::search_for_reinterpret_cast}},
    {{"--const-cast"},
     option_group::kinds,
     "Search for const_cast",
     "",
     {},
     {&k::search_for_const_cast}},
    {{"-c"},
     option_group::kinds,
     "Search for any static_cast, dynamic_cast, reinterpret_cast, orconst_cast expression",
     "",
     {},
     {&k::search_for_static_cast, &k::search_for_dynamic_cast, &k::search_for_reinterpret_cast,
      &k::search_for_const_cast}},
    {{"--throw-expression"},
     option_group::kinds,
     "Search for throw expression",
     "",
     {},
     {&k::search_for_throw_expression}},
    {{"--isl", "--ignore-single-line-results"},
     option_group::kinds,
     "Ignore forward declarations, member function declarations, etc.",
     R"(Entities that begin and end on the same line are not reported; entities inside them are still
searched.)"},
    {{"-I", "--include-dir"},
     option_group::parsing,
     "Additional include directories",
     R"(Passed to libclang as
.BI \%\-I directory\fR,\fP
before the directories that
.B pyrn
finds itself (see
.BR Parsing ).
May be repeated; the directories are used in the order given.
Default: none.)",
     {takes::texts, "directory", value_hint::directory, "", ""}},
    {{"-l", "--language"},
     option_group::parsing,
     "Language option used by clang",
     R"(Passed to libclang as
.B \%\-x
.IR language ,
for example
.BR c ,
.BR c++ ,
.B cuda
or
.BR objective\-c .
Default:
.BR c++ .)",
     {takes::text, "language", value_hint::words,
      "c c++ cuda objective-c objective-c++ c-header c++-header", "c++"}},
    {{"--std"},
     option_group::parsing,
     "C++ standard to be used by clang",
     R"(Passed to libclang as
.BI \%\-std= standard\fR,\fP
but only when the language is exactly
.BR c++ ;
for any other language no standard is passed and this option has no effect.
Default:
.BR c++17 .)",
     {takes::text, "standard", value_hint::words,
      "c++98 c++03 c++11 c++14 c++17 c++20 c++23 c++2c gnu++11 gnu++14 gnu++17 gnu++20 gnu++23",
      "c++17"}},
    {{"--nc", "--no-color"},
     option_group::general,
     "Stops pyrn from coloring the output",
     R"(See
.BR COLOUR .)",
     {},
     {},
     /* exclusive_group */ "",
     /* conflicts */ "--color"},
    {{"--json"},
     option_group::output,
     "Print one JSON object per match, one per line",
     R"(Each line reads
.BR {"type":"match","path": \fIP\fP ,"start_line": \fIN\fP ,"end_line": \fIN\fP ,
.BR "column": \fIN\fP ,"name_line": \fIN\fP ,"name_column": \fIN\fP ,
.BR "kind": \fIK\fP ,"name": \fIS\fP ,"text": \fIS\fP } ,
where
.B column
is the 1\-based byte column of the entity's start,
.B name_line
and
.B name_column
the place of its name (for a reference, its own place),
.B kind
the name of its kind option without dashes
.RB ( function ,
.BR member_function ,
.BR class ,
.BR static_cast ,
.BR for_statement ,
\&...; the references and field declarations of
.B \%\-\-include\-expressions
are
.BR reference ),
.B name
the entity's name and
.B text
its source text, as the block output shows it.
The path, the name and the text are objects:
.B {"text":\fIstring\fP}
when their bytes are valid UTF\-8, otherwise
.B {"bytes":\fIbase64\fP}
with the bytes exactly as they are.)",
     {},
     {},
     /* exclusive_group */ "format"},
    {{"--vimgrep"},
     option_group::output,
     "Print path:line:column:text for each match",
     R"(The line and the column are those of the entity's name (for a reference, its own place), where
an editor should jump, and the text is that line without its leading blanks; this is the
format of
.BR "grep \-n" ,
read by Vim's
.B :grep
and
.B :cfile
and by most editors.)",
     {},
     {},
     /* exclusive_group */ "format"},
    {{"--files-with-matches"},
     option_group::output,
     "Print only the path of each file with a match",
     "Each path is printed once, as soon as the search of its file ends.",
     {},
     {},
     /* exclusive_group */ "format"},
    {{"-p", "--compile-commands"},
     option_group::build,
     "Parse with the arguments of this compile_commands.json or of the one in this build directory",
     R"(.I path
is a build directory holding
.B compile_commands.json
(as written by CMake with
.B \%\-DCMAKE_EXPORT_COMPILE_COMMANDS=ON
or by
.BR bear )
or that file itself.
A database comes with the project being searched, so of an entry's arguments only the options
that shape what the code means are taken:
.BR \%\-D ,
.BR \%\-U ,
.BR \%\-I ,
.BR \%\-isystem ,
.BR \%\-iquote ,
.BR \%\-idirafter ,
.BR \%\-include ,
.BR \%\-imacros ,
.BR \%\-std ,
.B \%\-x
(a source or header language),
.BR \%\-\-target / \-target ,
.BR \%\-stdlib ,
.BR \%\-march ,
.BR \%\-mcpu ,
.B \%\-mtune
(not
.BR native ),
target features such as
.BR \%\-mavx2 ,
.BR \%\-m32 ,
.B \%\-O
levels and a list of language flags (exceptions, RTTI, the signedness of char,
.BR \%\-fms\-extensions ,
OpenMP, \&...), each with its value joined or apart.
Everything else is left out: nothing that could run a program
.RB ( \%\-B ,
.BR \%\-\-offload\-arch ,
.BR \%\-\-*\-arch\-tool ),
load a plugin
.RB ( \%\-fplugin ,
.BR \%\-Xclang ),
read a response file
.RB ( @file )
or write a file
.RB ( \%\-o ,
.BR \%\-MD ,
.BR \%\-Wp, ,
.BR \%\-fmodules ,
\&...) reaches libclang.
Relative paths are taken in the entry's directory, and the
.B \%\-I
options of the command line are added after the entry's.
Of those taken, options that clang does not know are left out as well.
.B \%\-\-verbose
names what is left out, once for each distinct list (but the outputs that every entry names).
A missing or unreadable database ends the run with exit status 2 before anything is searched.)",
     {takes::text, "path", value_hint::file}},
    {{"--cache"},
     option_group::cache,
     "Keep what parses find in this directory and answer later searches from it",
     R"(The
.I directory
is created (mode 0700) when it is missing, its database (mode 0600) likewise.
For every file that is parsed, the cursors that a search could ever report are stored together
with what they depend on; a later search of the same file with the same arguments (whatever
its query, kinds and matching options) reads them instead of parsing the file again, as long
as the file's content and every header it included are unchanged.
The output is the same as without the cache.
See
.BR CACHE .)",
     {takes::text, "directory", value_hint::directory}},
    {{"-i", "--ignore-case"},
     option_group::query,
     "Match ASCII letters without case",
     R"(A\-Z and a\-z compare equal in the pre\-filter, the name test and the text test; every
other byte, UTF\-8 included, compares exactly.)"},
    {{"--regex"},
     option_group::query,
     "Take the query as a regular expression (RE2)",
     R"(The expression is searched for in the name (with
.BR \%\-\-exact\-match :
it must match the whole name) or, for the text test, in the source text.
RE2 runs in time linear in the text, without back\-tracking.
A file is parsed only when it holds the literal strings that every match of the expression
needs; an expression without any (such as
.BR ^[a\-z]+$ )
lets every file through.
Literals with characters beyond ASCII, which RE2 lowers by Unicode's rules, are looked for by
their ASCII parts.
The pre\-filter folds ASCII letters only: with
.BR \%\-i ,
RE2 also takes the Kelvin sign for k and the long s for s, and a file whose only match spells
them so is passed over.
A malformed expression is an error of the command line, and so is a qualified expression that
with
.B \%\-\-exact\-match
does not compile once it is put in a group (an unclosed
.BR \eQ ).
With
.BR \%\-i ,
the expression ignores case.)"},
    {{"-0", "--null"},
     option_group::output,
     "Follow each path of --files-with-matches with a NUL byte, not a line feed",
     R"(A file name may hold a line feed; with
.B \%\-0
the list can be read safely, as by
.BR "xargs \-0" .
The option changes nothing else.)"},
    {{"--cache-remote"},
     option_group::cache,
     "Share the cache's entries through this Redis server, redis://HOST[:PORT][/DB], behind "
     "--cache or alone",
     R"(See
.BR CACHE .)",
     {takes::text, "url", value_hint::words, "redis://localhost:6379"}},
    {{"--shard"},
     option_group::cache,
     "Search only the K-th of N parts of the tree, K/N with 0 <= K < N, as N jobs that fill a "
     "shared cache together",
     R"(A file belongs to part K when its path below the searched directory hashes to K modulo N; the N
outputs together are the output of the whole search.)",
     {takes::text, "K/N", value_hint::none}},
    {{"--full-parse"},
     option_group::parsing,
     "Parse every file with all the function bodies of its headers, as --verbose does",
     R"(By default a C++ file (one parsed as
.B c++
or
.BR c++\-header )
is parsed in one indexing session shared by the whole search, which skips the function bodies of
the header regions that an earlier file of the search has parsed, and those of system headers;
the file's own bodies are always parsed, and the output is the same.
Bodies that other declarations need (of
.B constexpr
functions and of functions whose return type is deduced) are never skipped.
A file whose parse meets a missing include or a fatal error is parsed again in full, since the
session cannot go on after a fatal error as a full parse does.
C and CUDA files, and a
.B .c
file parsed as C++, are always parsed in full;
.B \%\-\-verbose
parses every file in full, so that the diagnostics in header bodies are shown for each file.)"},
    {{"--stats"},
     option_group::general,
     "Print on standard error how many files were read, parsed and answered from the cache",
     R"(After the search, one line each
.RI \(lqpyrn:\~ what :\~ count \(rq:
the files read, those holding the query, those answered from the cache, those parsed skipping
the bodies of headers parsed before, those parsed in full after the indexing call could not
stand for it, those parsed in full and those that could not be read; then, when there were any,
the files whose parse crashed, ran too long or ran out of memory.)"},
    {{"--sort"},
     option_group::output,
     "path: print the files in byte order of their paths and each file's matches in source order",
     R"(.B path
is the one
.IR key .
Every output format then prints the same at any
.BR \%\-j ;
see
.BR OUTPUT .)",
     {takes::text, "key", value_hint::words, "path"}},
    {{"--exclude"},
     option_group::walk,
     "Skip the files and folders whose name or path below the search path matches this pattern",
     R"(The
.I pattern
is matched as by
.BR fnmatch (3)
without flags, so that
.B *
also matches a slash, against an entry's name and against its path below
.I path
(for
.B src/gen/a.cpp
below the path:
.B a.cpp
and
.BR src/gen/a.cpp ).
A
.I pattern
that ends in a slash matches directories only.
A directory that matches is not entered, neither by the search nor by the search for include
directories.
The option may be repeated; an entry that any pattern matches is left out.)",
     {takes::texts, "pattern", value_hint::none}},
    {{"--gitignore"},
     option_group::walk,
     "Skip what git ignores: .gitignore files, .git/info/exclude, the global excludes file",
     R"(The rules are those of the git repository that holds
.IR path ,
read by libgit2 as git reads them (the global excludes file is
.B core.excludesFile
of the git configuration, else
.BR ~/.config/git/ignore );
the repository's
.B .git
directories are skipped as well.
Outside a git repository nothing is left out; a repository that cannot be opened ends the run
with exit status 2.)"},
    {{"--color"},
     option_group::general,
     "Colour the output: always, never (as --nc) or auto (on a terminal; the default)",
     R"(.B always
colours blocks also in a pipe, for
.BR "less \-R" .
Not together with
.BR \%\-\-nc ;
see
.BR COLOUR .)",
     {takes::text, "when", value_hint::words, "always never auto"},
     {},
     /* exclusive_group */ "",
     /* conflicts */ "--nc --no-color"},
    {{"--no-progress"},
     option_group::general,
     "Show no progress line on a terminal",
     R"(See
.BR PROGRESS .)"},
    {{"--cache-key"},
     option_group::cache,
     "Store the cache's entries with a MAC under the secret in this file, which only you can "
     "read, and take no entry without one",
     R"(The MAC is libsodium's crypto_auth (HMAC\-SHA\-512\-256) under a secret taken from the
.IR file 's
bytes: at least 32 (a line end after them does not count) and at most 4096.
An entry stored without the key, or under another, is parsed again and replaced, in either tier.
A
.I file
that is not a regular file of the user, that another user can read or write, or that is too
short or too long ends the run with exit status 2.
See
.BR CACHE .)",
     {takes::text, "file", value_hint::file}},
    {{"--enum-constant"},
     option_group::kinds,
     "Search for enumerator (enum constant) declaration",
     R"(Matches the enumerators of enumerations, scoped or not, by their names.)",
     {},
     {&k::search_for_enum_constant}},
    {{"--macro"},
     option_group::kinds,
     "Search for macro definition (#define) in the file itself",
     R"(Matches the
.B #define
directives of the searched file by the macro's name; the match is the whole directive.
Macros of included headers and those that the compiler predefines are not reported.
Only with this option are files parsed with libclang's detailed preprocessing record, which
the other searches do without; their cache entries are kept apart.)",
     {},
     {&k::search_for_macro}},
    {{"--lambda"},
     option_group::kinds,
     "Search for lambda expression",
     R"(A lambda has no name: it matches when its text, from its
.B [
to its body's closing brace, contains
.IR query .)",
     {},
     {&k::search_for_lambda}},
    {{"--namespace"},
     option_group::kinds,
     "Search for namespace declaration",
     R"(Matches each
.BI "namespace " name " {" ... }
by its name, inline namespaces included; an anonymous namespace has an empty name.
A nested definition
.B namespace a::b
is one match, found by either name (once, under the first, when both match).)",
     {},
     {&k::search_for_namespace}},
    {{"--parse-timeout"},
     option_group::parsing,
     "Stop the parse of a file after this many seconds, name the file and go on (0: no limit)",
     R"(Each file is parsed by libclang in a worker process of its own thread of the search, which
the search supervises; a parse that runs longer than
.I seconds
(default 60) is stopped, its worker replaced, and the file named in one line on standard error.
A worker that crashes, or runs out of memory (see
.BR \%\-\-parse\-memory ),
is replaced the same way; the search goes on and its exit status stays 0.
.B \%\-\-stats
counts these files.)",
     {takes::number, "seconds", value_hint::none, "", "60"}},
    {{"--parse-memory"},
     option_group::parsing,
     "Limit the address space of each parse worker to this many MiB (default: a quarter of the "
     "machine's memory; 0: no limit)",
     R"(A parse that needs more ends its worker; the file is named in one line on standard error
and the search goes on.)",
     {takes::number, "MiB", value_hint::none}},

};

} // namespace

option_rows all_options() {
    return {rows, std::size(rows)};
}

const option_row* find_option(std::string_view name) {
    for (const option_row& row : rows) {
        if (!name.empty() && (row.names[0] == name || row.names[1] == name)) {
            return &row;
        }
    }
    return nullptr;
}

bool chooses_kinds(const option_row& row) {
    return row.kinds[0] != nullptr;
}

bool is_kind_option(const option_row& row) {
    for (bool search::kind_choice::*field : row.kinds) {
        const search::kind_row* kind = field != nullptr ? search::row_of(field) : nullptr;
        if (kind != nullptr && kind->expression) {
            return false;
        }
    }
    return chooses_kinds(row);
}

} // namespace pyrn
