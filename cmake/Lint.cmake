# The static checks, as tests of the lint preset:
#   cmake --workflow --preset lint
# clang-tidy (.clang-tidy) and cppcheck over the program, clang-format
# (.clang-format) over all the C++ of the project (Format.cmake).
find_program(CLANG_TIDY clang-tidy REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
find_program(CLANG_FORMAT clang-format REQUIRED)

# The program's sources as this build compiles them: the other platform's
# system calls are not for this compiler to read.
get_target_property(program sales_tally_core SOURCES)
list(TRANSFORM program PREPEND "${PROJECT_SOURCE_DIR}/src/")
list(APPEND program "${PROJECT_SOURCE_DIR}/src/main.cpp")

add_test(NAME lint.clang_tidy COMMAND "${CLANG_TIDY}" -p "${PROJECT_BINARY_DIR}" --quiet ${program})
add_test(NAME lint.cppcheck
         COMMAND "${CPPCHECK}" --std=c++17 --enable=warning,style,performance,portability
                 --error-exitcode=1 --inline-suppr --quiet "-I${PROJECT_SOURCE_DIR}/src" ${program})
add_test(NAME lint.clang_format COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${sales_tally_formatted})
