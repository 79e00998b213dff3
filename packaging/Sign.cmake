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
#                                    tried in turn, each for as long as a
#                                    call may take: without a timestamp the
#                                    signature dies with the certificate, so a
#                                    signing needs one...
#   SALES_TALLY_SIGN_UNTIMESTAMPED   ...unless this is ON: a throwaway
#                                    signing (tests), at the packages' epoch
#   SALES_TALLY_SIGN_TIMEOUT         seconds any one osslsigncode call may take
#   SALES_TALLY_SIGNATURES_FROM      a folder with the published packages:
#                                    their signatures are attached instead, so
#                                    that anyone can rebuild a signed release
#   SALES_TALLY_SIGNATURES_CAFILE    the certificates every signature and its
#                                    timestamp must verify against, made or
#                                    attached, when not the system's: one that
#                                    does not verify stops the release
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
    sales_tally_osslsigncode_failure(reason "${failed}" "${said}")
    set(${failure} "${reason}" PARENT_SCOPE)
  endif()
endfunction()

# What osslsigncode said, as a failure's reason. OpenSSL's error stack is
# mostly the key formats tried in vain: its last line, the reason itself, is
# kept, and all it said goes to a log beside the packages.
function(sales_tally_osslsigncode_failure out status said)
  set(log "${CPACK_TOPLEVEL_DIRECTORY}/osslsigncode.log")
  file(APPEND "${log}" "${said}\n")
  string(REGEX MATCHALL "[0-9A-F]+:error:[^\n]*" errors "${said}")
  string(REGEX REPLACE "[0-9A-F]+:error:[^\n]*\n?" "" said "${said}")
  if(errors)
    list(POP_BACK errors last)
    string(REGEX REPLACE ".*:error:[^:]*:[^:]*:[^:]*:" "" last "${last}")
    string(APPEND said "\nOpenSSL: ${last}")
  endif()
  string(STRIP "${said}" said)
  string(CONCAT said "(${status}; a call may take ${SALES_TALLY_SIGN_TIMEOUT} s, "
         "SALES_TALLY_SIGN_TIMEOUT):\n${said}\nAll it said, OpenSSL's errors too: ${log}")
  set(${out} "${said}" PARENT_SCOPE)
endfunction()

# Whether files are to be signed at all, and then the options that sign them,
# but for the timestamp server.
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
  if(CPACK_SALES_TALLY_MAINTAINER STREQUAL "" OR CPACK_SALES_TALLY_URL STREQUAL "")
    message(FATAL_ERROR "A signed release names who to report security problems to, and its "
                        "page: give SALES_TALLY_MAINTAINER and SALES_TALLY_URL when configuring")
  endif()
  if(CPACK_SALES_TALLY_LICENSE STREQUAL "")
    message(FATAL_ERROR "A signed release carries its owner's licence, without which nobody may "
                        "deploy it: give SALES_TALLY_LICENSE and SALES_TALLY_LICENSE_FILE when "
                        "configuring")
  endif()
  # README.txt names the signer, from the certificate given when configuring.
  include("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Signer.cmake")
  sales_tally_signer(signer "${SALES_TALLY_SIGN_CERT}")
  if(NOT signer STREQUAL CPACK_SALES_TALLY_SIGNER)
    message(FATAL_ERROR "README.txt names \"${CPACK_SALES_TALLY_SIGNER}\" as the signer, and the "
                        "certificate is \"${signer}\": give SALES_TALLY_SIGN_CERT when configuring")
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
  endif()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# Checks a signature as soon as it is made or attached, its timestamp too
# unless the signing was a throwaway one, against the system's certificates
# or SALES_TALLY_SIGNATURES_CAFILE's. osslsigncode says "Succeeded" even for
# a timestamp that fails, so its lines are read.
function(sales_tally_verify file)
  set(verify verify -in "${file}")
  if(NOT SALES_TALLY_SIGNATURES_CAFILE STREQUAL "")
    list(APPEND verify -CAfile "${SALES_TALLY_SIGNATURES_CAFILE}"
         -TSA-CAfile "${SALES_TALLY_SIGNATURES_CAFILE}")
  endif()
  set(required "Signature verification: ok")
  if(NOT SALES_TALLY_SIGN_UNTIMESTAMPED)
    list(APPEND required "Timestamp Server Signature verification: ok")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  execute_process(COMMAND "${OSSLSIGNCODE}" ${verify} OUTPUT_VARIABLE said ERROR_VARIABLE said
                  RESULT_VARIABLE failed TIMEOUT ${SALES_TALLY_SIGN_TIMEOUT})
  foreach(line IN LISTS required)
    if(NOT said MATCHES "(^|\n)${line}\n")
      sales_tally_osslsigncode_failure(reason "${failed}" "${said}")
      message(FATAL_ERROR "The signature of ${file} does not verify (no \"${line}\") ${reason}")
    endif()
  endforeach()
endfunction()

# Signs file, or gives it the signature of published, the same file as a
# published release holds it; then verifies it.
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
    sales_tally_verify("${file}")
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
  # What Windows shows at a prompt of the program and its publisher.
  list(APPEND options -n "${CPACK_SALES_TALLY_PRODUCT_NAME}" -i "${CPACK_SALES_TALLY_URL}")
  list(APPEND options -in "${file}" -out "${file}.signed")
  # Each timestamp server is asked in turn, with a timeout of its own: one
  # that hangs is passed over for the next. A throwaway signing asks none.
  set(servers "${SALES_TALLY_SIGN_TIMESTAMP_URLS}")
  if(SALES_TALLY_SIGN_UNTIMESTAMPED)
    set(servers "none")
  endif()
  set(failures "")
  foreach(server IN LISTS servers)
    set(attempt "${options}")
    if(NOT SALES_TALLY_SIGN_UNTIMESTAMPED)
      list(APPEND attempt -ts "${server}")
    endif()
    file(REMOVE "${file}.signed")
    sales_tally_osslsigncode(failure attempt)
    if(NOT failure)
      break()
    endif()
    string(APPEND failures "\nwith ${server} ${failure}")
  endforeach()
  file(REMOVE "${secret}")
  if(failure)
    message(FATAL_ERROR "osslsigncode could not sign ${file}:${failures}")
  endif()
  file(RENAME "${file}.signed" "${file}")
  sales_tally_verify("${file}")
endfunction()
