#include "clang/entry_options.hpp"

#include "base/paths.hpp"

#include <string_view>
#include <unordered_set>

namespace search {

namespace {

// Options whose value is joined (-DNAME) or the next argument (-D NAME).
constexpr std::string_view joined_or_apart[] = {
    "-D", "-U", "-I", "-isystem", "-iquote", "-idirafter", "-include", "-imacros", "-x"};

// Options of their own that begin like one of those: clang would take them, with the next
// argument as their value, rather than the shorter option with a joined value.
constexpr std::string_view look_alikes[] = {"-I-", "-isystem-after", "-include-pch"};

// Options whose value follows an "=".
constexpr std::string_view joined_with_equals[] = {
    "-std=",
    "--std=",
    "--target=",
    "-stdlib=",
    "-march=",
    "-mtune=",
    "-mcpu=",
    "-mabi=",
    "-mfpu=",
    "-mfloat-abi=",
    "-faligned-new=",
    "-fms-compatibility-version=",
    "-fbracket-depth=",
    "-fconstexpr-depth=",
    "-fconstexpr-steps=",
    "-ftemplate-depth=",
};

// Options whose value is always the next argument.
constexpr std::string_view apart[] = {"-target", "--std"};

// Options whose value clang writes into the predefined lines, where a line break would start a
// directive of the entry's own: #include "/dev/zero", #pragma clang __debug crash.
constexpr std::string_view predefined[] = {"-D", "-U", "-include", "-imacros"};

// clang's default of each limit: a parse needs no more.
struct limit {
    std::string_view option;
    std::string_view default_value;
};
constexpr limit limits[] = {
    {"-fbracket-depth=", "256"},
    {"-fconstexpr-depth=", "512"},
    {"-fconstexpr-steps=", "1048576"},
    {"-ftemplate-depth=", "1024"},
};

// Flags that change what the code means: the language's features, the predefined macros, the
// standard headers found. No flag here makes clang run, load or write anything.
const std::unordered_set<std::string_view>& language_flags() {
    static const std::unordered_set<std::string_view> flags = {
        "-fexceptions",
        "-fno-exceptions",
        "-fcxx-exceptions",
        "-fno-cxx-exceptions",
        "-fobjc-exceptions",
        "-fno-objc-exceptions",
        "-frtti",
        "-fno-rtti",
        "-fsigned-char",
        "-fno-signed-char",
        "-funsigned-char",
        "-fno-unsigned-char",
        "-fms-extensions",
        "-fno-ms-extensions",
        "-fms-compatibility",
        "-fno-ms-compatibility",
        "-fdelayed-template-parsing",
        "-fno-delayed-template-parsing",
        "-fdeclspec",
        "-fno-declspec",
        "-fborland-extensions",
        "-fno-borland-extensions",
        "-fgnu-keywords",
        "-fno-gnu-keywords",
        "-fgnu89-inline",
        "-fno-gnu89-inline",
        "-fasm",
        "-fno-asm",
        "-fno-operator-names",
        "-fchar8_t",
        "-fno-char8_t",
        "-fshort-wchar",
        "-fno-short-wchar",
        "-fshort-enums",
        "-fno-short-enums",
        "-fsized-deallocation",
        "-fno-sized-deallocation",
        "-faligned-new",
        "-fno-aligned-new",
        "-fblocks",
        "-fno-blocks",
        "-fdollars-in-identifiers",
        "-fno-dollars-in-identifiers",
        "-ftrigraphs",
        "-fno-trigraphs",
        "-fopenmp",
        "-fopenmp-simd",
        "-fno-openmp",
        "-ffreestanding",
        "-fbuiltin",
        "-fno-builtin",
        "-ffast-math",
        "-fno-fast-math",
        "-ffinite-math-only",
        "-fno-finite-math-only",
        "-fpic",
        "-fPIC",
        "-fpie",
        "-fPIE",
        "-fno-pic",
        "-fno-PIC",
        "-fno-pie",
        "-fno-PIE",
        "-fobjc-arc",
        "-fno-objc-arc",
        "-m16",
        "-m32",
        "-m64",
        "-mx32",
        "-pthread",
        "-ansi",
        "-trigraphs",
        "-undef",
        "-nostdinc",
        "-nostdinc++",
        "-nostdlibinc",
        "-nobuiltininc",
        "-O",
        "-O0",
        "-O1",
        "-O2",
        "-O3",
        "-O4",
        "-Os",
        "-Oz",
        "-Og",
        "-Ofast",
        "--driver-mode=gcc",
        "--driver-mode=g++",
    };
    return flags;
}

// The languages -x may name: those of sources and headers, not modules, precompiled headers
// or anything else that would read or write other files.
bool is_source_language(std::string_view language) {
    static const std::unordered_set<std::string_view> languages = {
        "c",           "c-header",           "c++",           "c++-header",          "cuda", "hip",
        "objective-c", "objective-c-header", "objective-c++", "objective-c++-header"};
    return languages.count(language) != 0;
}

bool is_letter_or_digit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A target feature, -mavx2 or -mno-sse4.2: lower case, no value. -mllvm, -mmlir and -meabi
// have that shape but take the next argument.
bool is_target_feature(std::string_view arg) {
    if (!starts_with(arg, "-m") || arg == "-mllvm" || arg == "-mmlir" || arg == "-meabi") {
        return false;
    }
    std::string_view name = arg.substr(2);
    if (starts_with(name, "no-")) {
        name.remove_prefix(3);
    }
    if (name.empty() || name[0] < 'a' || name[0] > 'z') {
        return false;
    }
    for (char c : name) {
        if (!is_letter_or_digit(c) && c != '.') {
            return false;
        }
    }
    return true;
}

bool takes_value(std::string_view option, std::string_view value) {
    for (std::string_view into_predefines : predefined) {
        if (option == into_predefines && value.find_first_of("\n\r") != std::string_view::npos) {
            return false;
        }
    }
    if (option == "-x") {
        return is_source_language(value);
    }
    // For a GPU target, "native" runs a program that asks the machine.
    return !(starts_with(option, "-m") && value == "native");
}

bool is_look_alike(std::string_view arg) {
    for (std::string_view other : look_alikes) {
        if (arg == other) {
            return true;
        }
    }
    return false;
}

} // namespace

std::size_t parse_option_length(const std::vector<std::string>& args, std::size_t i) {
    const std::string_view arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (language_flags().count(arg) != 0 || is_target_feature(arg)) {
        return 1;
    }
    if (is_look_alike(arg)) {
        return 0;
    }
    for (std::string_view option : joined_or_apart) {
        if (arg == option) {
            return has_value && takes_value(option, args[i + 1]) ? 2 : 0;
        }
        if (starts_with(arg, option)) {
            return takes_value(option, arg.substr(option.size())) ? 1 : 0;
        }
    }
    for (std::string_view option : joined_with_equals) {
        if (starts_with(arg, option)) {
            return takes_value(option, arg.substr(option.size())) ? 1 : 0;
        }
    }
    for (std::string_view option : apart) {
        if (arg == option) {
            return has_value ? 2 : 0;
        }
    }
    return 0;
}

std::size_t option_span(const std::vector<std::string>& args, std::size_t i) {
    const std::string_view arg = args[i];
    bool value_apart = false;
    for (std::string_view option : joined_or_apart) {
        value_apart = value_apart || arg == option;
    }
    for (std::string_view option : apart) {
        value_apart = value_apart || arg == option;
    }
    return value_apart && i + 1 < args.size() ? 2 : 1;
}

std::string capped_limit(const std::string& arg) {
    for (const limit& known : limits) {
        if (!starts_with(arg, known.option)) {
            continue;
        }
        const std::string_view value = std::string_view(arg).substr(known.option.size());
        const bool within =
            !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos &&
            (value.size() < known.default_value.size() ||
             (value.size() == known.default_value.size() && value <= known.default_value));
        return within ? arg : std::string(known.option) + std::string(known.default_value);
    }
    return arg;
}

std::size_t output_option_length(const std::vector<std::string>& args, std::size_t i) {
    static const std::unordered_set<std::string_view> alone{"-c",  "-S",   "-E",  "-M",  "-MM",
                                                            "-MD", "-MMD", "-MP", "-MG", "-MV"};
    static constexpr std::string_view with_value[] = {"-o", "-MF", "-MT", "-MQ", "-MJ"};
    const std::string_view arg = args[i];
    if (alone.count(arg) != 0) {
        return 1;
    }
    for (std::string_view option : with_value) {
        if (arg == option) {
            return i + 1 < args.size() ? 2 : 1;
        }
        // -ofile, -MFfile; but -objc... is another option altogether.
        if (arg.size() > option.size() && starts_with(arg, option) && !starts_with(arg, "-obj")) {
            return 1;
        }
    }
    return 0;
}

} // namespace search
