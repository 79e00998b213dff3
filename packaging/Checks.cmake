# The checks of what release.py made, labelled release: the release workflows
# run them after building `packages` (CMakePresets.json), and the other test
# steps leave them out. release.NAME runs checks/NAME.py; packaging/README.md's
# table says what each checks.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Every file in checks/ is a check, but the two that serve the others; these
# run on one platform only.
set(windows_only zip msi_lifecycle signed)
set(debian_only deb)
file(GLOB checks CONFIGURE_DEPENDS RELATIVE "${CMAKE_CURRENT_LIST_DIR}/checks"
     "${CMAKE_CURRENT_LIST_DIR}/checks/*.py")
list(TRANSFORM checks REPLACE "\\.py$" "")
list(REMOVE_ITEM checks common timestamp_server)
if(WIN32)
  list(REMOVE_ITEM checks ${debian_only})
else()
  list(REMOVE_ITEM checks ${windows_only})
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
