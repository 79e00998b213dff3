# Run by cpack after each of its generators, before Checksums.cmake: writes
# each package's bill of materials beside it, PACKAGE.cdx.json (sbom.py),
# from the program's link map and the program as packed.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/sales_tally"
     "${CPACK_TEMPORARY_DIRECTORY}/*/sales_tally" "${CPACK_TEMPORARY_DIRECTORY}/sales_tally.exe")
list(LENGTH programs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "Not one program among what cpack staged: ${programs}")
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_SALES_TALLY_EPOCH}")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(name MATCHES "\\.json$")
    continue() # the External generator's own, no package
  endif()
  execute_process(
    COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/sbom.py"
            "${CPACK_PACKAGE_DIRECTORY}/${name}.cdx.json" "${CPACK_SALES_TALLY_LINK_MAP}"
            ${programs} "${CPACK_PACKAGE_VERSION}" "$ENV{SOURCE_DATE_EPOCH}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
