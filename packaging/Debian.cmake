# The Linux release: a .deb and a .tar.gz (release.py) with the program,
# its manual page, changelog and copyright (License.cmake).

# Writes source, compressed as Debian wants its documentation: gzip -9, no
# name or time in the header.
function(sales_tally_gzip source output)
  execute_process(COMMAND gzip -9nc INPUT_FILE "${source}" OUTPUT_FILE "${output}"
                  COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

install(TARGETS sales_tally)
sales_tally_gzip("${PROJECT_BINARY_DIR}/sales_tally.1" "${PROJECT_BINARY_DIR}/sales_tally.1.gz")
install(FILES "${PROJECT_BINARY_DIR}/sales_tally.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

file(STRINGS "${packaging}/changelog.in" newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^sales-tally \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog.in has no entry for version ${PROJECT_VERSION} on top")
endif()
# Debian's maintainer is a name and an address. A build without one gives
# an address that is plainly none (.invalid, RFC 2606), not one nobody reads.
set(SALES_TALLY_DEB_MAINTAINER "${SALES_TALLY_MAINTAINER}")
if(SALES_TALLY_MAINTAINER STREQUAL "")
  set(SALES_TALLY_DEB_MAINTAINER "This build comes without a contact <none@contact.invalid>")
endif()
configure_file("${packaging}/changelog.in" changelog @ONLY)
sales_tally_gzip("${PROJECT_BINARY_DIR}/changelog" "${PROJECT_BINARY_DIR}/changelog.gz")
# Named after the Debian package, which cannot take an underscore.
set(docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/sales-tally")
install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" "${PROJECT_BINARY_DIR}/copyright"
        DESTINATION "${docdir}")

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_DEBIAN_PACKAGE_NAME sales-tally)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SALES_TALLY_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_FILE_NAME "sales_tally-${PROJECT_VERSION}-Linux")
set(generators DEB TGZ)
set(release_preset release)
# What a run of release.py makes, and so replaces: this platform's files only.
set(own "${CPACK_PACKAGE_FILE_NAME}.*" "${CPACK_DEBIAN_PACKAGE_NAME}_${PROJECT_VERSION}_*.deb*")
