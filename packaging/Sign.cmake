# sales_tally_sign(file published): signs a Windows file in place, or gives
# it the signature of published, the same file in a published release, and
# verifies it; with no certificate given, leaves it as it is. sign.py does it
# and says how. Used by cpack's scripts through Record.cmake, which names the
# release's record that sign.py reads: the exe before it is packed (once a
# release: Staging.cmake), the .msi once it is built (Msi.cmake).
#
# The signing settings (Release.cmake) are the cache's, where the
# environment has none of the same name; the secret comes from the
# environment only. sales_tally_signed says whether this release is signed,
# here or by attaching published signatures.
foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
  set(${setting} "${CPACK_${setting}}")
  if(DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  endif()
endforeach()
set(sales_tally_signed yes)
if("${SALES_TALLY_SIGN_CERT}${SALES_TALLY_SIGNATURES_FROM}" STREQUAL "")
  set(sales_tally_signed no)
endif()

# In the environment, as they are: a PKCS#11 URI's semicolons would split
# as a CMake list on a command line.
macro(sales_tally_signing_environment)
  foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
    set(ENV{${setting}} "${${setting}}")
  endforeach()
endmacro()

function(sales_tally_sign file published)
  sales_tally_signing_environment()
  execute_process(COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sign.py"
                          "${file}" "${published}" "${record}" "${CPACK_SALES_TALLY_PRODUCT_NAME}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${file} could not be signed, for the reason sign.py gives above")
  endif()
endfunction()

# sales_tally_vouch(sums): SHA256SUMS signed by the release's signer, or the
# published signature of it taken, and verified (vouch.py); in a release
# that is not signed, nothing. A failure leaves no SHA256SUMS.
function(sales_tally_vouch sums)
  if(NOT sales_tally_signed)
    return()
  endif()
  sales_tally_signing_environment()
  execute_process(COMMAND "${CPACK_SALES_TALLY_PYTHON}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/vouch.py"
                          "${sums}" "${record}" RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE "${sums}" "${sums}.p7s" "${sums}.p7s.tsr")
    message(FATAL_ERROR "SHA256SUMS could not be signed, for the reason vouch.py gives above")
  endif()
endfunction()
