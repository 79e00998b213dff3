# The project's C++ as .clang-format lays it out: the target format rewrites
# it (cmake --build build/NAME --target format), and the lint preset's
# lint.clang_format checks it (Lint.cmake).
file(GLOB sales_tally_formatted CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/src/*.[ch]pp" "${PROJECT_SOURCE_DIR}/src/*.h"
  "${PROJECT_SOURCE_DIR}/tests/*.cpp" "${PROJECT_SOURCE_DIR}/tests/*.h"
  "${PROJECT_SOURCE_DIR}/fuzz/*.cpp" "${PROJECT_SOURCE_DIR}/bench/*.cpp")
find_program(CLANG_FORMAT clang-format)
if(CLANG_FORMAT)
  add_custom_target(format COMMAND "${CLANG_FORMAT}" -i ${sales_tally_formatted}
                    COMMENT "Formatting the C++ with .clang-format" VERBATIM)
endif()
