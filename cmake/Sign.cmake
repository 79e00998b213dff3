# Signs a Windows file in place with Authenticode (SHA-256), when the builder
# has given a code-signing certificate; otherwise leaves it as it is. Used by
# cpack's scripts: the exe before it is packed, the .msi once it is built.
#
# The certificate and key are files, named by the cache variables
# SALES_TALLY_SIGN_CERT and SALES_TALLY_SIGN_KEY or by the environment
# variables of the same names; the key's passphrase, a secret, comes from the
# environment only (SALES_TALLY_SIGN_PASSWORD). A timestamp server is asked
# only when SALES_TALLY_SIGN_TIMESTAMP_URL names one; without it the signing
# time is the packages' epoch, so that the exe signed for the zip and for the
# .msi is the same.
function(sales_tally_sign file)
  foreach(setting IN ITEMS CERT KEY)
    set(${setting} "${CPACK_SALES_TALLY_SIGN_${setting}}")
    if(DEFINED ENV{SALES_TALLY_SIGN_${setting}})
      set(${setting} "$ENV{SALES_TALLY_SIGN_${setting}}")
    endif()
  endforeach()
  if(CERT STREQUAL "" AND KEY STREQUAL "")
    return()
  endif()
  if(CERT STREQUAL "" OR KEY STREQUAL "")
    message(FATAL_ERROR "Signing needs both SALES_TALLY_SIGN_CERT and SALES_TALLY_SIGN_KEY")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(options -h sha256 -certs "${CERT}" -key "${KEY}")
  if(DEFINED ENV{SALES_TALLY_SIGN_PASSWORD})
    list(APPEND options -pass "$ENV{SALES_TALLY_SIGN_PASSWORD}")
  endif()
  if(NOT CPACK_SALES_TALLY_SIGN_TIMESTAMP_URL STREQUAL "")
    list(APPEND options -ts "${CPACK_SALES_TALLY_SIGN_TIMESTAMP_URL}")
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${file}" -out "${file}.signed"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME "${file}.signed" "${file}")
endfunction()
