# Signs a Windows file in place with Authenticode (SHA-256), when the builder
# has given a code-signing certificate, or attaches the signature of the same
# file in a published release; otherwise leaves it as it is. Used by cpack's
# scripts: the exe before it is packed (once a release: Staging.cmake), the
# .msi once it is built (Msi.cmake).
#
# The settings come from the cache variables of Release.cmake or from the
# environment variables of the same names, which win:
#   SALES_TALLY_SIGN_CERT            the certificate, a file
#   SALES_TALLY_SIGN_KEY             its private key: a file, or a PKCS#11 URI
#                                    (pkcs11:token=...;object=...) on a token
#   SALES_TALLY_SIGN_PKCS11_MODULE   with a URI: the token's PKCS#11 module
#   SALES_TALLY_SIGN_TIMESTAMP_URLS  RFC 3161 timestamp servers, one or more,
#                                    tried in turn: without a timestamp the
#                                    signature dies with the certificate, so a
#                                    signing needs one...
#   SALES_TALLY_SIGN_UNTIMESTAMPED   ...unless this is ON: a throwaway
#                                    signing (tests), at the packages' epoch
#   SALES_TALLY_SIGN_TIMEOUT         seconds any one osslsigncode call may take
#   SALES_TALLY_SIGNATURES_FROM      a folder with the published packages:
#                                    their signatures are attached instead, so
#                                    that anyone can rebuild a signed release
#   SALES_TALLY_SIGNATURES_CAFILE    the certificates those signatures and
#                                    their timestamps must verify against,
#                                    when not the system's: an attached
#                                    signature that does not fit the rebuilt
#                                    file fails
# The key's passphrase or the token's PIN, a secret, comes from the
# environment only (SALES_TALLY_SIGN_PASSWORD), and reaches osslsigncode
# through a file only the builder can read, never on its command line, where
# any user's ps would show it.
foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
  set(${setting} "${CPACK_${setting}}")
  if(DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  endif()
endforeach()
# From the environment the servers come separated by spaces.
string(REGEX REPLACE "[ ;]+" ";" SALES_TALLY_SIGN_TIMESTAMP_URLS "${SALES_TALLY_SIGN_TIMESTAMP_URLS}")
if(SALES_TALLY_SIGN_TIMEOUT STREQUAL "")
  set(SALES_TALLY_SIGN_TIMEOUT 120)
endif()

# Runs osslsigncode with the arguments listed in the variable named, and a
# timeout. failure is left empty, or says what went wrong in osslsigncode's
# own words. (Passed on as a function's arguments, the list would lose the
# escapes of a PKCS#11 URI's semicolons.)
function(sales_tally_osslsigncode failure arguments)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  execute_process(COMMAND "${OSSLSIGNCODE}" ${${arguments}} OUTPUT_VARIABLE said ERROR_VARIABLE said
                  RESULT_VARIABLE failed TIMEOUT ${SALES_TALLY_SIGN_TIMEOUT})
  set(${failure} "" PARENT_SCOPE)
  if(failed)
    # osslsigncode's own lines; OpenSSL's error stack, mostly the key formats
    # tried in vain, goes to a log beside them.
    set(log "${CPACK_TOPLEVEL_DIRECTORY}/osslsigncode.log")
    file(WRITE "${log}" "${said}")
    string(REGEX REPLACE "[0-9A-F]+:error:[^\n]*\n" "" said "${said}")
    string(STRIP "${said}" said)
    string(CONCAT said "(${failed}; a call may take ${SALES_TALLY_SIGN_TIMEOUT} s, "
           "SALES_TALLY_SIGN_TIMEOUT):\n${said}\nAll it said, OpenSSL's errors too: ${log}")
    set(${failure} "${said}" PARENT_SCOPE)
  endif()
endfunction()

# Whether files are to be signed at all, and then the options that sign them.
function(sales_tally_sign_options out)
  set(${out} "" PARENT_SCOPE)
  if(SALES_TALLY_SIGN_CERT STREQUAL "" AND SALES_TALLY_SIGN_KEY STREQUAL "")
    return()
  endif()
  if(SALES_TALLY_SIGN_CERT STREQUAL "" OR SALES_TALLY_SIGN_KEY STREQUAL "")
    message(FATAL_ERROR "Signing needs both SALES_TALLY_SIGN_CERT and SALES_TALLY_SIGN_KEY")
  endif()
  if(NOT SALES_TALLY_SIGNATURES_FROM STREQUAL "")
    message(FATAL_ERROR "SALES_TALLY_SIGNATURES_FROM attaches published signatures: "
                        "give it without a certificate and key")
  endif()
  if("${CPACK_SALES_TALLY_CONTACT} ${CPACK_SALES_TALLY_URL}" MATCHES "example\\.org")
    message(FATAL_ERROR "A signed release names who to report security problems to: give "
                        "SALES_TALLY_MAINTAINER and SALES_TALLY_URL when configuring, not the "
                        "placeholders")
  endif()
  # A PKCS#11 URI separates its attributes with semicolons, which would split
  # it as a CMake list.
  string(REPLACE ";" "\\;" key "${SALES_TALLY_SIGN_KEY}")
  set(options -h sha256 -certs "${SALES_TALLY_SIGN_CERT}" -key "${key}")
  if(SALES_TALLY_SIGN_KEY MATCHES "^pkcs11:")
    if(SALES_TALLY_SIGN_PKCS11_MODULE STREQUAL "")
      message(FATAL_ERROR "A PKCS#11 key needs SALES_TALLY_SIGN_PKCS11_MODULE")
    endif()
    list(APPEND options -pkcs11module "${SALES_TALLY_SIGN_PKCS11_MODULE}")
  endif()
  if(SALES_TALLY_SIGN_UNTIMESTAMPED)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
      list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
    endif()
  elseif(SALES_TALLY_SIGN_TIMESTAMP_URLS STREQUAL "")
    message(FATAL_ERROR
            "A signed release needs a timestamp, or its signature dies with the certificate: "
            "give SALES_TALLY_SIGN_TIMESTAMP_URLS, or SALES_TALLY_SIGN_UNTIMESTAMPED=ON for a "
            "throwaway signing")
  else()
    foreach(url IN LISTS SALES_TALLY_SIGN_TIMESTAMP_URLS)
      list(APPEND options -ts "${url}")
    endforeach()
  endif()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# Signs file, or gives it the signature of published, the same file as a
# published release holds it.
function(sales_tally_sign file published)
  if(NOT SALES_TALLY_SIGNATURES_FROM STREQUAL "")
    set(signature "${file}.sig")
    set(extract extract-signature -in "${published}" -out "${signature}")
    sales_tally_osslsigncode(failure extract)
    if(NOT failure)
      set(attach attach-signature -sigin "${signature}" -in "${file}" -out "${file}.signed")
      if(NOT SALES_TALLY_SIGNATURES_CAFILE STREQUAL "")
        list(APPEND attach -CAfile "${SALES_TALLY_SIGNATURES_CAFILE}" -TSA-CAfile "${SALES_TALLY_SIGNATURES_CAFILE}")
      endif()
      sales_tally_osslsigncode(failure attach)
    endif()
    if(failure)
      message(FATAL_ERROR "osslsigncode could not give ${file} the signature of ${published} "
                          "${failure}")
    endif()
    file(REMOVE "${signature}")
    file(RENAME "${file}.signed" "${file}")
    return()
  endif()
  sales_tally_sign_options(options)
  if(options STREQUAL "")
    return()
  endif()
  set(secret "${file}.pass")
  if(DEFINED ENV{SALES_TALLY_SIGN_PASSWORD})
    # Made unreadable to others before the secret goes in; no newline after it.
    file(TOUCH "${secret}")
    file(CHMOD "${secret}" PERMISSIONS OWNER_READ OWNER_WRITE)
    file(WRITE "${secret}" "$ENV{SALES_TALLY_SIGN_PASSWORD}")
    list(APPEND options -readpass "${secret}")
  endif()
  list(PREPEND options sign)
  list(APPEND options -in "${file}" -out "${file}.signed")
  sales_tally_osslsigncode(failure options)
  file(REMOVE "${secret}")
  if(failure)
    message(FATAL_ERROR "osslsigncode could not sign ${file} ${failure}")
  endif()
  file(RENAME "${file}.signed" "${file}")
  # Which osslsigncode made the signatures: another version may write them
  # differently, so whoever rebuilds the release wants the same one.
  execute_process(COMMAND "${OSSLSIGNCODE}" --version OUTPUT_VARIABLE version ERROR_QUIET
                  TIMEOUT ${SALES_TALLY_SIGN_TIMEOUT})
  string(REGEX REPLACE "\n\n.*" "\n" version "${version}")
  file(WRITE "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.signed-with.txt" "${version}")
endfunction()
