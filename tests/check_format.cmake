# Fails when a C++ file of the project is not formatted by the repository's .clang-format.
find_program(CLANG_FORMAT NAMES clang-format)
if(NOT CLANG_FORMAT)
    message(FATAL_ERROR "clang-format not found: install the Debian package clang-format")
endif()
file(GLOB_RECURSE files
    ${SOURCE_DIR}/source/*.cpp ${SOURCE_DIR}/source/*.hpp
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.hpp
    ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.hpp)
list(FILTER files EXCLUDE REGEX "/tests/fixtures/")
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "some files are not formatted: run 'make format'")
endif()
