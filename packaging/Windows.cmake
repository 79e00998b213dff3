# The Windows release (Release.cmake): a zip of one folder with
# sales_tally.exe, README.txt, NOTICES.txt and LICENSE.txt, and an .msi that
# installs the same files (Msi.cmake); the exe's version resource, and the
# signing settings (Sign.cmake).

# The exe's version resource, icon and manifest.
enable_language(RC)
list(APPEND CPACK_SALES_TALLY_BUILD_TOOLS "${CMAKE_RC_COMPILER}")
configure_file("${packaging}/sales_tally.rc.in" sales_tally.rc @ONLY)
# As the resource's FILEVERSION gives it, for the .msi's File table (Msi.cmake).
set(CPACK_SALES_TALLY_EXE_VERSION
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
target_sources(sales_tally PRIVATE "${PROJECT_BINARY_DIR}/sales_tally.rc")
set_source_files_properties("${PROJECT_BINARY_DIR}/sales_tally.rc" PROPERTIES
  OBJECT_DEPENDS "${packaging}/sales_tally.manifest;${packaging}/sales_tally.ico")
if(MSVC)
  target_link_options(sales_tally PRIVATE /MANIFEST:NO) # it has its own
endif()

# The notices of the libraries linked into the exe, for every copy.
configure_file("${packaging}/NOTICES.txt" NOTICES.txt NEWLINE_STYLE CRLF)
install(TARGETS sales_tally DESTINATION .)
install(FILES "${PROJECT_BINARY_DIR}/README.txt" "${PROJECT_BINARY_DIR}/NOTICES.txt"
              "${PROJECT_BINARY_DIR}/LICENSE.txt" DESTINATION .)
set(CPACK_GENERATOR ZIP External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${packaging}/Msi.cmake")
set(CPACK_SALES_TALLY_PACKAGING_DIR "${packaging}")
set(CPACK_SALES_TALLY_PRODUCT_NAME "${SALES_TALLY_PRODUCT_NAME}")
set(CPACK_SALES_TALLY_PUBLISHER "${SALES_TALLY_PUBLISHER}")
# Programs and Features' support information: the maintainer, or that there
# is none; a link only where there is one (sales_tally.wxs).
set(CPACK_SALES_TALLY_CONTACT "${SALES_TALLY_MAINTAINER}")
set(CPACK_SALES_TALLY_HELP_LINK "")
if(SALES_TALLY_MAINTAINER STREQUAL "")
  set(CPACK_SALES_TALLY_CONTACT "This build comes without a contact")
else()
  set(CPACK_SALES_TALLY_HELP_LINK "mailto:${SALES_TALLY_CONTACT_ADDRESS}")
endif()
set(CPACK_SALES_TALLY_URL "${SALES_TALLY_URL}")
set(CPACK_SALES_TALLY_UPGRADE_CODE "${SALES_TALLY_UPGRADE_CODE}")
set(CPACK_SALES_TALLY_MSI_ARCH "${SALES_TALLY_MSI_ARCH}")

# Code signing (Sign.cmake): the certificate, the key (a file or a PKCS#11
# URI) with the module that reaches its token, and the timestamp servers;
# or the published packages whose signatures a rebuild attaches. The
# passphrase or PIN comes from the environment when cpack runs, never from
# here.
set(SALES_TALLY_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate for the Windows packages")
set(SALES_TALLY_SIGN_KEY "" CACHE STRING "The certificate's private key: a file or a PKCS#11 URI")
set(SALES_TALLY_SIGN_PKCS11_MODULE "" CACHE FILEPATH "The PKCS#11 module of the key's token")
set(SALES_TALLY_SIGN_TIMESTAMP_URLS "" CACHE STRING
    "RFC 3161 timestamp servers, tried in turn; a signing needs one")
option(SALES_TALLY_SIGN_UNTIMESTAMPED "Sign without a timestamp: a throwaway signing, for tests" OFF)
set(SALES_TALLY_SIGN_TIMEOUT 120 CACHE STRING "Seconds one call of osslsigncode may take")
set(SALES_TALLY_SIGNATURES_FROM "" CACHE PATH
    "A folder of published packages whose signatures to attach, instead of signing")
set(SALES_TALLY_SIGNATURES_CAFILE "" CACHE FILEPATH
    "The certificates the attached signatures verify against, if not the system's")
# Handed to cpack by name; Sign.cmake lets the environment override each.
set(CPACK_SALES_TALLY_SIGNING_SETTINGS
    SALES_TALLY_SIGN_CERT SALES_TALLY_SIGN_KEY SALES_TALLY_SIGN_PKCS11_MODULE
    SALES_TALLY_SIGN_TIMESTAMP_URLS SALES_TALLY_SIGN_UNTIMESTAMPED SALES_TALLY_SIGN_TIMEOUT
    SALES_TALLY_SIGNATURES_FROM SALES_TALLY_SIGNATURES_CAFILE)
foreach(setting IN LISTS CPACK_SALES_TALLY_SIGNING_SETTINGS)
  set(CPACK_${setting} "${${setting}}")
endforeach()
