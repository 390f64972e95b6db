#pragma once

// Owners of libclang's objects: each is disposed of by its own function when its owner goes.

#include <clang-c/Index.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace search {

template <class Handle, void (*dispose)(Handle)> struct clang_disposer {
    void operator()(Handle handle) const { dispose(handle); }
};

template <class Handle, void (*dispose)(Handle)>
using clang_handle =
    std::unique_ptr<std::remove_pointer_t<Handle>, clang_disposer<Handle, dispose>>;

using index_handle = clang_handle<CXIndex, clang_disposeIndex>;
using unit_handle = clang_handle<CXTranslationUnit, clang_disposeTranslationUnit>;
using diagnostic_handle = clang_handle<CXDiagnostic, clang_disposeDiagnostic>;

// A libclang string, released when it goes; a string without text reads as empty.
class clang_text {
public:
    explicit clang_text(CXString string) : string(string) {}
    ~clang_text() { clang_disposeString(string); }
    clang_text(const clang_text&) = delete;
    clang_text& operator=(const clang_text&) = delete;

    std::string_view view() const {
        const char* chars = clang_getCString(string);
        return chars != nullptr ? chars : "";
    }

private:
    CXString string;
};

// The text of a libclang string, which is released.
inline std::string owned_text(CXString string) {
    return std::string(clang_text(string).view());
}

} // namespace search
