# The program's license, the owner's choice and so a release setting, like
# the contact (settings.json): SALES_TALLY_LICENSE, an SPDX expression or a
# LicenseRef-... for a license of the owner's own, and SALES_TALLY_LICENSE_FILE
# with its text. Every package ships the text: LICENSE.txt beside the exe
# (CR LF), the .deb's copyright file in Debian's format. Without them, both
# say that no license is granted, and no signed release is made.
set(license_text_file "${SALES_TALLY_LICENSE_FILE}")
set(SALES_TALLY_LICENSE_NAME "${SALES_TALLY_LICENSE}")
if(SALES_TALLY_LICENSE STREQUAL "" AND SALES_TALLY_LICENSE_FILE STREQUAL "")
  set(license_text_file "${packaging}/no-license.txt")
  set(SALES_TALLY_LICENSE_NAME "LicenseRef-no-license-granted")
elseif(SALES_TALLY_LICENSE STREQUAL "" OR NOT EXISTS "${SALES_TALLY_LICENSE_FILE}")
  message(FATAL_ERROR "A license needs both SALES_TALLY_LICENSE and SALES_TALLY_LICENSE_FILE, "
                      "an existing file with its text")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${license_text_file}")
file(READ "${license_text_file}" license_text)
string(REPLACE "\r\n" "\n" license_text "${license_text}")
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(APPEND license_text "\n")

if(WIN32)
  string(REPLACE "\n" "\r\n" windows_text "${license_text}")
  file(WRITE "${PROJECT_BINARY_DIR}/LICENSE.txt" "${windows_text}")
else()
  # Debian's format: each line of the text indented, an empty one as " .".
  string(REGEX REPLACE "\n$" "" debian_text "${license_text}")
  string(REPLACE "\n" "\n " debian_text " ${debian_text}")
  # Twice, for empty lines in a row.
  string(REPLACE "\n \n" "\n .\n" debian_text "${debian_text}")
  string(REPLACE "\n \n" "\n .\n" debian_text "${debian_text}")
  # Only the contact and page the builder gave.
  set(upstream "")
  if(NOT SALES_TALLY_MAINTAINER STREQUAL "")
    string(APPEND upstream "Upstream-Contact: ${SALES_TALLY_MAINTAINER}\n")
  endif()
  if(NOT SALES_TALLY_URL STREQUAL "")
    string(APPEND upstream "Source: ${SALES_TALLY_URL}\n")
  endif()
  configure_file("${packaging}/copyright.in" copyright @ONLY)
endif()
