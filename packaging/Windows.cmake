# The Windows release (Release.cmake): a zip of one folder with
# sales_tally.exe, README.txt, NOTICES.txt and LICENSE.txt, and an .msi that
# installs the same files (Msi.cmake); the exe's version resource.

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
