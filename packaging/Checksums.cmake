# Run by cpack before and after each of its generators: keeps SHA256SUMS
# beside the packages, a line for each ("HASH  NAME", as sha256sum -c reads
# it), sorted by name so that it is the same bytes whenever the packages are.
# It vouches for a release only once the release is whole: it goes before
# each generator starts, and comes back after the last one, listing what
# each generator made last. The External generator's .json is no package.
set(sums "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
set(made "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/made")

if(CPACK_PACKAGE_FILES STREQUAL "") # before the generator
  file(REMOVE "${sums}")
  if(CPACK_GENERATOR STREQUAL CPACK_SALES_TALLY_FIRST_GENERATOR)
    file(REMOVE_RECURSE "${made}")
  endif()
  return()
endif()

set(lines "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "\\.json$")
    file(SHA256 "${package}" digest)
    list(APPEND lines "${name}  ${digest}")
    # Its bill of materials, beside it (Sbom.cmake).
    file(SHA256 "${CPACK_PACKAGE_DIRECTORY}/${name}.cdx.json" digest)
    list(APPEND lines "${name}.cdx.json  ${digest}")
  endif()
endforeach()
if(lines STREQUAL "")
  return() # the generator failed: cpack runs this all the same
endif()
list(JOIN lines "\n" lines)
file(WRITE "${made}/${CPACK_GENERATOR}" "${lines}")

set(lines "")
foreach(generator IN LISTS CPACK_SALES_TALLY_GENERATORS)
  if(NOT EXISTS "${made}/${generator}")
    return() # the release is not whole yet
  endif()
  file(STRINGS "${made}/${generator}" made_by_it)
  list(APPEND lines ${made_by_it})
endforeach()
list(SORT lines COMPARE STRING)
set(text "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^(.+)  ([0-9a-f]+)$" "\\2  \\1\n" line "${line}")
  string(APPEND text "${line}")
endforeach()
file(WRITE "${sums}" "${text}")
