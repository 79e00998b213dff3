# Included by cpack's scripts (Checksums.cmake, Sbom.cmake): record, the
# release's record beside the packages, and record_name; before each
# generator, sales_tally_write_record() writes it (record.py), with the
# source commit, the version, the epoch, every release setting and the tools
# that make the packages, the same bytes for the whole run. The bills of
# materials take from it who made the program and with what; SHA256SUMS
# lists it once the release is whole.
include("${CMAKE_CURRENT_LIST_DIR}/Sign.cmake")
set(record_name "${CPACK_PACKAGE_FILE_NAME}.release.json")
set(record "${CPACK_PACKAGE_DIRECTORY}/${record_name}")

function(sales_tally_write_record)
  set(fields commit=${CPACK_SALES_TALLY_COMMIT} version=${CPACK_PACKAGE_VERSION}
      epoch=${CPACK_SALES_TALLY_EPOCH} epoch_from=${CPACK_SALES_TALLY_EPOCH_FROM}
      preset=${CPACK_SALES_TALLY_PRESET} signed=${sales_tally_signed})
  foreach(setting IN LISTS CPACK_SALES_TALLY_RELEASE_SETTINGS)
    list(APPEND fields "${setting}=${CPACK_${setting}}")
  endforeach()
  set(tools ${CPACK_SALES_TALLY_BUILD_TOOLS})
  foreach(tool IN LISTS CPACK_SALES_TALLY_PACKAGING_TOOLS)
    find_program(${tool}_path ${tool} REQUIRED)
    list(APPEND tools "${${tool}_path}")
  endforeach()
  execute_process(COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/record.py"
                          "${record}" ${fields} -- ${tools}
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
