# Run by cpack after each generator, before Sbom.cmake: the .deb's members
# get the modes dpkg-deb gives them, whatever the umask (modes.py). The
# other packages take theirs from the staged files (Staging.cmake).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/modes.py"
                            "${package}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
