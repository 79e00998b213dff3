# The checks of what cpack made, labelled release: the release workflows run
# them after their package step (CMakePresets.json), and the other test steps
# leave them out. release.NAME runs checks/NAME.py, which says what it checks.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(sales_tally_release_check name)
  add_test(NAME release.${name}
           COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_LIST_DIR}/checks/${name}.py"
                   "${PROJECT_BINARY_DIR}" ${sales_tally_emulator})
  set_tests_properties(release.${name} PROPERTIES LABELS release ${ARGN})
endfunction()

if(WIN32)
  sales_tally_release_check(zip)
  sales_tally_release_check(msi_lifecycle TIMEOUT 900)
  sales_tally_release_check(signed)
else()
  sales_tally_release_check(deb)
endif()
sales_tally_release_check(sbom)
sales_tally_release_check(checksums)
# Builds everything again in a clone of HEAD; a tree with changes skips it.
sales_tally_release_check(reproducible TIMEOUT 1800 SKIP_RETURN_CODE 77)
