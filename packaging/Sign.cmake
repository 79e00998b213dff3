# Signs a Windows file in place with Authenticode (SHA-256), when the builder
# has given a code-signing certificate; otherwise leaves it as it is. Used by
# cpack's scripts: the exe before it is packed, the .msi once it is built.
#
# The settings come from the cache variables of Release.cmake or from the
# environment variables of the same names, which win:
#   SALES_TALLY_SIGN_CERT            the certificate, a file
#   SALES_TALLY_SIGN_KEY             its private key: a file, or a PKCS#11 URI
#                                    (pkcs11:token=...;object=...) on a token
#   SALES_TALLY_SIGN_PKCS11_MODULE   with a URI: the token's PKCS#11 module
#   SALES_TALLY_SIGN_TIMESTAMP_URL   a timestamp server, if any
# The key's passphrase or the token's PIN, a secret, comes from the
# environment only (SALES_TALLY_SIGN_PASSWORD), and reaches osslsigncode
# through a file only the builder can read, never on its command line, where
# any user's ps would show it. Without a timestamp server the signing time is
# the packages' epoch, so that the exe signed for the zip and for the .msi is
# the same.
function(sales_tally_sign file)
  foreach(setting IN ITEMS CERT KEY PKCS11_MODULE TIMESTAMP_URL)
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
  # A PKCS#11 URI separates its attributes with semicolons, which would split
  # it as a CMake list.
  string(REPLACE ";" "\\;" KEY "${KEY}")
  set(options -h sha256 -certs "${CERT}" -key "${KEY}")
  if(KEY MATCHES "^pkcs11:")
    if(PKCS11_MODULE STREQUAL "")
      message(FATAL_ERROR "A PKCS#11 key needs SALES_TALLY_SIGN_PKCS11_MODULE")
    endif()
    list(APPEND options -pkcs11module "${PKCS11_MODULE}")
  endif()
  if(NOT TIMESTAMP_URL STREQUAL "")
    list(APPEND options -ts "${TIMESTAMP_URL}")
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
  endif()
  set(secret "${file}.pass")
  if(DEFINED ENV{SALES_TALLY_SIGN_PASSWORD})
    # Made unreadable to others before the secret goes in; no newline after it.
    file(TOUCH "${secret}")
    file(CHMOD "${secret}" PERMISSIONS OWNER_READ OWNER_WRITE)
    file(WRITE "${secret}" "$ENV{SALES_TALLY_SIGN_PASSWORD}")
    list(APPEND options -readpass "${secret}")
  endif()
  execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${file}" -out "${file}.signed"
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  file(REMOVE "${secret}")
  if(failed)
    message(FATAL_ERROR "osslsigncode could not sign ${file}")
  endif()
  file(RENAME "${file}.signed" "${file}")
endfunction()
