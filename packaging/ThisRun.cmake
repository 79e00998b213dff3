# Included by cpack's scripts: this_run, a folder for what one run of cpack
# keeps from one generator to the next (Checksums.cmake, Staging.cmake),
# emptied when a new run starts, and the earlier run's release removed. cpack
# runs the generators of one release in one process, whose id and start time
# tell this run from an earlier one into the same folder.
set(this_run "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/this-run")
execute_process(COMMAND sh -c "echo $PPID $(cut -d ' ' -f 22 /proc/$PPID/stat 2>/dev/null)"
                OUTPUT_VARIABLE run OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(run_of_kept "")
if(EXISTS "${this_run}/run")
  file(READ "${this_run}/run" run_of_kept)
endif()
if(NOT run_of_kept STREQUAL run)
  file(REMOVE_RECURSE "${this_run}")
  file(WRITE "${this_run}/run" "${run}")
  # What an earlier run published here goes too: after a failure the folder
  # must hold nothing of it beside this run's packages, which a maintainer
  # could take for one release: its packages, their bills, its record,
  # SHA256SUMS and its signature, and what cpack's External generator
  # writes beside the .msi.
  file(GLOB earlier LIST_DIRECTORIES false "${CPACK_PACKAGE_DIRECTORY}/*.json"
       "${CPACK_PACKAGE_DIRECTORY}/*.zip" "${CPACK_PACKAGE_DIRECTORY}/*.msi"
       "${CPACK_PACKAGE_DIRECTORY}/*.deb" "${CPACK_PACKAGE_DIRECTORY}/*.tar.gz"
       "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS*" "${CPACK_PACKAGE_DIRECTORY}/AUTHORITY.pem")
  file(REMOVE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" ${earlier})
endif()
