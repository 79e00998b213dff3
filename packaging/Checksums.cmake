# Run by cpack before and after each of its generators: keeps SHA256SUMS
# beside the packages, a line for each ("HASH  NAME", as sha256sum -c reads
# it), sorted by name so that it is the same bytes whenever the packages are.
# It vouches for one run of cpack only, and only once that run has made the
# whole release: it goes before each generator starts, and comes back after
# the last one, listing what each generator of this run made, the release's
# record among it (record.py). The External generator's .json is no package.
# A signed release signs it too: SHA256SUMS.p7s, its timestamp and the
# signing authority's certificate beside it (vouch.py).
set(sums "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
include("${CMAKE_CURRENT_LIST_DIR}/ThisRun.cmake")
set(made "${this_run}/made")

include("${CMAKE_CURRENT_LIST_DIR}/Record.cmake")

if(NOT DEFINED CPACK_PACKAGE_FILES) # before the generator
  file(REMOVE "${sums}" "${sums}.p7s" "${sums}.p7s.tsr" "${made}/${CPACK_GENERATOR}")
  sales_tally_write_record()
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

file(SHA256 "${record}" digest)
list(APPEND lines "${record_name}  ${digest}")

list(SORT lines COMPARE STRING)
set(text "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^(.+)  ([0-9a-f]+)$" "\\2  \\1\n" line "${line}")
  string(APPEND text "${line}")
endforeach()
file(WRITE "${sums}" "${text}")
# Signed by the release's signer, when it is signed (Sign.cmake).
sales_tally_vouch("${sums}")
