# The Windows release: a zip of one folder with sales_tally.exe, README.txt,
# NOTICES.txt and LICENSE.txt, and an .msi that installs the same files
# (release.py, sales_tally.wxs); the exe's version resource, icon and manifest.
enable_language(RC)
list(APPEND build_tools "${CMAKE_RC_COMPILER}")
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
              "${PROJECT_BINARY_DIR}/LICENSE.txt" DESTINATION .)
set(CPACK_PACKAGE_FILE_NAME "sales_tally-${PROJECT_VERSION}-win64")
set(generators ZIP)
set(release_preset release-windows)
# What a run of release.py makes, and so replaces: this platform's files only.
set(own "${CPACK_PACKAGE_FILE_NAME}.*")
