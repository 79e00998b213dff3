# The checks of what release.py made, labelled release: the release workflows
# run them after building `packages` (CMakePresets.json), and the other test
# steps leave them out. release.NAME runs checks/NAME.py, which says what it
# checks.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Every file in checks/ is a check of one of these releases, or shared by them.
set(windows_checks zip msi_lifecycle signed)
set(debian_checks deb)
set(shared_checks sbom checksums reproducible)
set(not_checks common timestamp_server)
file(GLOB files CONFIGURE_DEPENDS RELATIVE "${CMAKE_CURRENT_LIST_DIR}/checks"
     "${CMAKE_CURRENT_LIST_DIR}/checks/*.py")
foreach(file IN LISTS files)
  string(REGEX REPLACE "\\.py$" "" name "${file}")
  if(NOT name IN_LIST windows_checks AND NOT name IN_LIST debian_checks
     AND NOT name IN_LIST shared_checks AND NOT name IN_LIST not_checks)
    message(FATAL_ERROR "packaging/checks/${file} is no release check that runs: add it to a list "
                        "in packaging/Checks.cmake")
  endif()
endforeach()

set(checks ${shared_checks} ${debian_checks})
if(WIN32)
  set(checks ${shared_checks} ${windows_checks})
endif()
foreach(name IN LISTS checks)
  add_test(NAME release.${name}
           COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_LIST_DIR}/checks/${name}.py"
                   "${PROJECT_BINARY_DIR}" ${sales_tally_emulator})
  set_tests_properties(release.${name} PROPERTIES LABELS release)
endforeach()
if(WIN32)
  set_tests_properties(release.msi_lifecycle PROPERTIES TIMEOUT 900)
endif()
# Builds everything again in a clone of HEAD; a tree with changes skips it.
set_tests_properties(release.reproducible PROPERTIES TIMEOUT 1800 SKIP_RETURN_CODE 77)
