# What an install puts where, and the packages `cpack` makes of it: on
# Windows a zip of one folder with sales_tally.exe, README.txt and
# NOTICES.txt, and an .msi that installs the same files (Msi.cmake);
# elsewhere a .deb and a .tar.gz with the program, its manual page, changelog
# and copyright. Each writes SHA256SUMS beside its packages (Checksums.cmake).
# The guide to all of it is README.md beside this file.
include(GNUInstallDirs)
set(packaging "${CMAKE_CURRENT_LIST_DIR}")

# Who the release says it is, wherever it says it: the exe's version
# resource, the .msi and Programs and Features, the .deb.
set(SALES_TALLY_MAINTAINER "sales_tally maintainers <maintainers@example.org>"
    CACHE STRING "The packages' maintainer, as Name <address>: also where security problems are reported")
set(SALES_TALLY_URL "https://example.org/sales_tally" CACHE STRING "The program's page")
set(SALES_TALLY_SUPPORTED_UNTIL "2027-12-31" CACHE STRING
    "The last day this version gets security fixes, YYYY-MM-DD")
# Every release setting reaches the packages' bytes, so the release's record
# names each (Record.cmake), and a rebuild gives them again (rebuild.py).
set(CPACK_SALES_TALLY_RELEASE_SETTINGS
    SALES_TALLY_MAINTAINER SALES_TALLY_URL SALES_TALLY_SUPPORTED_UNTIL)
foreach(setting IN LISTS CPACK_SALES_TALLY_RELEASE_SETTINGS)
  set(CPACK_${setting} "${${setting}}")
endforeach()
string(REGEX REPLACE " *<.*>$" "" SALES_TALLY_PUBLISHER "${SALES_TALLY_MAINTAINER}")
string(REGEX REPLACE "^.*<(.*)>$" "\\1" SALES_TALLY_CONTACT_ADDRESS "${SALES_TALLY_MAINTAINER}")
# The defaults are placeholders, which no signed release may carry (Sign.cmake).
set(SALES_TALLY_PRODUCT_NAME "Sales tally")

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [[
An operator at the console types pairs of whole numbers: a product number
(1 to 5) and the quantity of that product sold. The program books each sale
at the product's fixed retail price and, when the operator enters -1, writes
the retail value of all products sold in dollars and cents.
Mistyped values are answered with a message and asked for again.]])
set(CPACK_VERBATIM_VARIABLES ON)
# Stripped at link time already (Reproducible.cmake).
set(CPACK_STRIP_FILES OFF)

# Every file packed carries the time of the last commit, or SOURCE_DATE_EPOCH
# when the caller sets one; Staging.cmake sees to it.
# The commit is the release's record's too (Record.cmake).
find_package(Git QUIET)
set(CPACK_SALES_TALLY_COMMIT "")
set(CPACK_SALES_TALLY_EPOCH "")
if(Git_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%H%n%ct
                  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}" OUTPUT_VARIABLE last_commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(last_commit MATCHES "^([0-9a-f]+)\n([0-9]+)$")
    set(CPACK_SALES_TALLY_COMMIT "${CMAKE_MATCH_1}")
    set(CPACK_SALES_TALLY_EPOCH "${CMAKE_MATCH_2}")
  endif()
endif()
set(CPACK_SALES_TALLY_EPOCH_FROM commit)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_SALES_TALLY_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(CPACK_SALES_TALLY_EPOCH_FROM SOURCE_DATE_EPOCH)
endif()
# The tools that make the packages, which the record names with their
# versions; and the workflow preset that builds them.
set(CPACK_SALES_TALLY_BUILD_TOOLS "${CMAKE_CXX_COMPILER}" "${CMAKE_LINKER}" "${CMAKE_COMMAND}")
set(CPACK_SALES_TALLY_PRESET release)
if(WIN32)
  set(CPACK_SALES_TALLY_PRESET release-windows)
  set(CPACK_SALES_TALLY_PACKAGING_TOOLS wixl msibuild faketime osslsigncode)
else()
  set(CPACK_SALES_TALLY_PACKAGING_TOOLS dpkg-deb)
endif()
set(CPACK_PRE_BUILD_SCRIPTS "${packaging}/Checksums.cmake" "${packaging}/Staging.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${packaging}/Sbom.cmake" "${packaging}/Checksums.cmake")

# Each package's bill of materials is made from the program's link map, by
# Python (Sbom.cmake).
if(NOT MSVC)
  set(CPACK_SALES_TALLY_LINK_MAP "${PROJECT_BINARY_DIR}/sales_tally.map")
  target_link_options(sales_tally PRIVATE "LINKER:-Map=${CPACK_SALES_TALLY_LINK_MAP}")
endif()
find_package(Python3 COMPONENTS Interpreter)
set(CPACK_SALES_TALLY_PYTHON "${Python3_EXECUTABLE}")

# The caller's SOURCE_DATE_EPOCH, or nothing, to put back once CMake's own
# dates have followed another.
macro(sales_tally_callers_epoch out)
  set(${out} "")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(${out} "$ENV{SOURCE_DATE_EPOCH}")
  endif()
endmacro()

# Writes source, compressed as Debian wants its documentation: gzip -9, no
# name or time in the header.
function(sales_tally_gzip source output)
  # CMake leaves the time out when SOURCE_DATE_EPOCH is set.
  sales_tally_callers_epoch(callers_epoch)
  set(ENV{SOURCE_DATE_EPOCH} 0)
  file(ARCHIVE_CREATE OUTPUT "${output}" PATHS "${source}" FORMAT raw
       COMPRESSION GZip COMPRESSION_LEVEL 9)
  set(ENV{SOURCE_DATE_EPOCH} "${callers_epoch}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

# README.txt and the manual page, written in every build so that the tests
# can hold them to the program.
include("${packaging}/Guides.cmake")

if(WIN32)
  # The exe's version resource, icon and manifest.
  enable_language(RC)
  list(APPEND CPACK_SALES_TALLY_BUILD_TOOLS "${CMAKE_RC_COMPILER}")
  configure_file("${packaging}/sales_tally.rc.in" sales_tally.rc @ONLY)
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
          DESTINATION .)
  set(CPACK_GENERATOR ZIP External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${packaging}/Msi.cmake")
  set(CPACK_SALES_TALLY_PACKAGING_DIR "${packaging}")
  set(CPACK_SALES_TALLY_PRODUCT_NAME "${SALES_TALLY_PRODUCT_NAME}")
  set(CPACK_SALES_TALLY_PUBLISHER "${SALES_TALLY_PUBLISHER}")
  set(CPACK_SALES_TALLY_CONTACT "${SALES_TALLY_MAINTAINER}")
  set(CPACK_SALES_TALLY_HELP_LINK "mailto:${SALES_TALLY_CONTACT_ADDRESS}")
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
else()
  install(TARGETS sales_tally)
  sales_tally_gzip("${PROJECT_BINARY_DIR}/sales_tally.1" "${PROJECT_BINARY_DIR}/sales_tally.1.gz")
  install(FILES "${PROJECT_BINARY_DIR}/sales_tally.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

  file(STRINGS "${packaging}/changelog.in" newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^sales-tally \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog.in has no entry for version ${PROJECT_VERSION} on top")
  endif()
  configure_file("${packaging}/changelog.in" changelog @ONLY)
  sales_tally_gzip("${PROJECT_BINARY_DIR}/changelog" "${PROJECT_BINARY_DIR}/changelog.gz")
  # Named after the Debian package, which cannot take an underscore.
  set(docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/sales-tally")
  install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" "${packaging}/copyright"
          DESTINATION "${docdir}")

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_PACKAGE_NAME sales-tally)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SALES_TALLY_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# The generators of a whole release: cpack -G gives its scripts only the one
# at work.
set(CPACK_SALES_TALLY_GENERATORS ${CPACK_GENERATOR})
