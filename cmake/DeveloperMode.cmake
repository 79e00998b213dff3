# What only whoever changes the program builds: the tests, and the checks the
# developer presets choose (CMakePresets.json, HACKING.md).
option(BUILD_TESTING "Build the unit and end-to-end tests" ON)
option(SALES_TALLY_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(SALES_TALLY_FUZZ "Build the fuzz target (clang only, sanitizers on)" OFF)
option(SALES_TALLY_LINT "Add clang-tidy, cppcheck and clang-format as tests" OFF)
option(SALES_TALLY_BENCHMARK "Build the straightforward version that bench/ compares against" OFF)
option(SALES_TALLY_RELEASE_CHECKS "Add the checks of the packages, labelled release" OFF)

if(SALES_TALLY_SANITIZE OR SALES_TALLY_FUZZ)
  include(Sanitizers)
  sales_tally_sanitize(sales_tally_options)
endif()

include(Format)

enable_testing()
# What the tests start the program with: Wine in a cross build
# (MinGW-w64.cmake), nothing in a native one.
set(sales_tally_emulator "")
if(DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(sales_tally_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
# The straightforward version is built for the tests too: they hold its
# output to the program's.
if(SALES_TALLY_BENCHMARK OR BUILD_TESTING)
  add_subdirectory(bench)
endif()
if(BUILD_TESTING)
  add_subdirectory(tests)
  if(SALES_TALLY_RELEASE_CHECKS)
    include(packaging/Checks.cmake)
  endif()
endif()
if(SALES_TALLY_FUZZ)
  add_subdirectory(fuzz)
endif()
if(SALES_TALLY_LINT)
  include(Lint)
endif()
