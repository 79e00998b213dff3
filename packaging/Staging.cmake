# Run by cpack once it has installed what it packs into its staging folder,
# and before it packs it. The .deb takes its times from SOURCE_DATE_EPOCH; the
# .tar.gz and the zip take times and permissions from the files, so they are
# set here: the epoch for every file and folder, and the folders' permissions,
# which would otherwise follow the umask.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT CPACK_SALES_TALLY_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_SALES_TALLY_EPOCH}")
endif()
# A zip records local time; make it the same everywhere.
set(ENV{TZ} UTC0)

# The exe is signed once a run of cpack, for its first package, and every other
# package takes the same signed bytes: signed twice, with a timestamp, the
# zip's and the .msi's would differ.
include("${CMAKE_CURRENT_LIST_DIR}/Record.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/ThisRun.cmake")
set(kept "${this_run}/signed")
file(GLOB_RECURSE programs RELATIVE "${CPACK_TEMPORARY_DIRECTORY}"
     "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
foreach(program IN LISTS programs)
  set(staged "${CPACK_TEMPORARY_DIRECTORY}/${program}")
  if(NOT EXISTS "${kept}/${program}")
    # Published, the exe is in the zip.
    set(published "${kept}/published/${CPACK_PACKAGE_FILE_NAME}/${program}")
    if(NOT SALES_TALLY_SIGNATURES_FROM STREQUAL "" AND NOT EXISTS "${published}")
      file(ARCHIVE_EXTRACT INPUT "${SALES_TALLY_SIGNATURES_FROM}/${CPACK_PACKAGE_FILE_NAME}.zip"
           DESTINATION "${kept}/published")
    endif()
    sales_tally_sign("${staged}" "${published}")
    get_filename_component(folder "${kept}/${program}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(COPY_FILE "${staged}" "${kept}/${program}")
  endif()
  file(COPY_FILE "${kept}/${program}" "${staged}")
endforeach()

file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
file(CHMOD ${staged} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
