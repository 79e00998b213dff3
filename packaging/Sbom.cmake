# Run by cpack after each of its generators, before Checksums.cmake: writes
# each package's bill of materials beside it, PACKAGE.cdx.json (sbom.py),
# from the program's link map, the program as packed and the release's
# record (Record.cmake).
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/sales_tally"
     "${CPACK_TEMPORARY_DIRECTORY}/*/sales_tally" "${CPACK_TEMPORARY_DIRECTORY}/sales_tally.exe")
list(LENGTH programs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "Not one program among what cpack staged: ${programs}")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/Record.cmake")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(name MATCHES "\\.json$")
    continue() # the External generator's own, no package
  endif()
  execute_process(
    COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/sbom.py"
            "${CPACK_PACKAGE_DIRECTORY}/${name}.cdx.json" "${package}" "${CPACK_SALES_TALLY_LINK_MAP}"
            ${programs} "${record}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
