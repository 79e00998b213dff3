# The static checks, as tests of the lint preset:
#   cmake --workflow --preset lint
# clang-tidy (.clang-tidy) and cppcheck over the program, clang-format
# (.clang-format) over all the C++ of the project (Format.cmake).
find_program(CLANG_TIDY clang-tidy REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
find_program(CLANG_FORMAT clang-format REQUIRED)

# The program's sources as this build compiles them, and the Windows system
# calls, which a native build does not compile: read as MinGW-w64 compiles
# them, by cppcheck with _WIN32 set and by clang-tidy aimed at MinGW-w64
# with the cross compiler's own headers.
get_target_property(program sales_tally_core SOURCES)
list(TRANSFORM program PREPEND "${PROJECT_SOURCE_DIR}/src/")
list(APPEND program "${PROJECT_SOURCE_DIR}/src/main.cpp")
set(windows "${PROJECT_SOURCE_DIR}/src/system_console_windows.cpp")
list(REMOVE_ITEM program "${windows}")

add_test(NAME lint.clang_tidy COMMAND "${CLANG_TIDY}" -p "${PROJECT_BINARY_DIR}" --quiet ${program})
set(cppcheck "${CPPCHECK}" --std=c++17 --enable=warning,style,performance,portability
             --error-exitcode=1 --inline-suppr --quiet "-I${PROJECT_SOURCE_DIR}/src")
add_test(NAME lint.cppcheck COMMAND ${cppcheck} ${program})
add_test(NAME lint.cppcheck_windows COMMAND ${cppcheck} -D_WIN32 "${windows}")

find_program(MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++
             DOC "MinGW-w64's C++ compiler, whose headers lint reads the Windows calls with")
if(MINGW_CXX)
  execute_process(COMMAND "${MINGW_CXX}" -E -x c++ -v /dev/null -o /dev/null
                  ERROR_VARIABLE searched OUTPUT_QUIET)
  string(REGEX MATCH "search starts here:\n(.*)End of search list" searched "${searched}")
  string(REGEX MATCHALL "/[^\n ]+" headers "${CMAKE_MATCH_1}")
  # Its C++ library and the Windows headers; clang brings its own builtins.
  list(FILTER headers INCLUDE REGEX "/c\\+\\+|mingw32/include$")
  list(TRANSFORM headers PREPEND "-isystem")
  add_test(NAME lint.clang_tidy_windows
           COMMAND "${CLANG_TIDY}" --quiet "${windows}" -- --target=x86_64-w64-mingw32 -std=c++17
                   "-I${PROJECT_SOURCE_DIR}/src" ${headers})
else()
  # Said, not passed over: the check did not run.
  add_test(NAME lint.clang_tidy_windows
           COMMAND "${CMAKE_COMMAND}" -E echo "needs MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix)")
  set_tests_properties(lint.clang_tidy_windows PROPERTIES SKIP_REGULAR_EXPRESSION "needs MinGW")
endif()
add_test(NAME lint.clang_format COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${sales_tally_formatted})
