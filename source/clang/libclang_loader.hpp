#pragma once

// The libclang library that the tool loads on first use.
const char* libclang_library_path();
