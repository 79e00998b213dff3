# Builds that give the same bytes in any folder at any time. Paths of the
# source and build trees are mapped away in case of debug information. An
# optimised build is stripped by the linker: strip run afterwards would write
# a fresh timestamp into a Windows exe, as the linker would by default.
if(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  target_compile_options(sales_tally_options INTERFACE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
                                                       "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
  target_link_options(sales_tally_options INTERFACE $<$<CONFIG:Release,MinSizeRel>:-s>)
  if(MINGW)
    target_link_options(sales_tally_options INTERFACE LINKER:--no-insert-timestamp)
  endif()
endif()
