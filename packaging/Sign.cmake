# sales_tally_sign(file published): signs a Windows file in place, or gives
# it the signature of published, the same file in a published release, and
# verifies it; with no certificate given, leaves it as it is. sign.py does it
# and says how. Used by cpack's scripts through Record.cmake, which names the
# release's record that sign.py reads: the exe before it is packed (once a
# release: Staging.cmake), the .msi once it is built (Msi.cmake).
#
# The signing settings (Windows.cmake) are the cache's, where the
# environment has none of the same name; the secret comes from the
# environment only.
foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
  set(${setting} "${CPACK_${setting}}")
  if(DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  endif()
endforeach()

function(sales_tally_sign file published)
  # In the environment, as they are: a PKCS#11 URI's semicolons would split
  # as a CMake list on a command line.
  foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
    set(ENV{${setting}} "${${setting}}")
  endforeach()
  execute_process(COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sign.py"
                          "${file}" "${published}" "${record}" "${CPACK_SALES_TALLY_PRODUCT_NAME}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${file} could not be signed, for the reason sign.py gives above")
  endif()
endfunction()
