# The static checks, as tests of the lint preset:
#   cmake --workflow --preset lint
# clang-tidy (.clang-tidy) and cppcheck over the program, clang-format
# (.clang-format) over all the C++ of the project (Format.cmake).
find_program(CLANG_TIDY clang-tidy REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
find_program(CLANG_FORMAT clang-format REQUIRED)

file(GLOB program CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/*.cpp")

add_test(NAME lint.clang_tidy COMMAND "${CLANG_TIDY}" -p "${PROJECT_BINARY_DIR}" --quiet ${program})
add_test(NAME lint.cppcheck
         COMMAND "${CPPCHECK}" --std=c++17 --enable=warning,style,performance,portability
                 --error-exitcode=1 --inline-suppr --quiet "-I${PROJECT_SOURCE_DIR}/src" ${program})
add_test(NAME lint.clang_format COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${sales_tally_formatted})
