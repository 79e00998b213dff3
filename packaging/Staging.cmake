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

# Signed, when the builder has a certificate, before it is packed.
include("${CMAKE_CURRENT_LIST_DIR}/Sign.cmake")
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
foreach(program IN LISTS programs)
  sales_tally_sign("${program}")
endforeach()

file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
file(CHMOD ${staged} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
