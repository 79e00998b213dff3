# The release, read when configuring: its settings (settings.json), license,
# guides and what an install puts where, on Windows (Windows.cmake) or
# elsewhere (Debian.cmake). The target `packages` then runs release.py, which
# makes this platform's packages and what vouches for them in one run, from
# release-inputs.json: what is worked out here. The guide is README.md beside
# this file.
include(GNUInstallDirs)
set(packaging "${CMAKE_CURRENT_LIST_DIR}")

# A text as a JSON string, for what release.py is given.
function(sales_tally_json out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# release.py needs Python; building the program alone does not.
find_package(Python3 COMPONENTS Interpreter)

# Each release setting a cache variable, declared once in settings.json, and
# given to release.py as it is.
file(READ "${packaging}/settings.json" declared)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${packaging}/settings.json")
string(JSON count LENGTH "${declared}")
math(EXPR last "${count} - 1")
set(inputs "{\"settings\": {}}")
foreach(at RANGE ${last})
  string(JSON name GET "${declared}" ${at} name)
  string(JSON default GET "${declared}" ${at} default)
  string(JSON meaning GET "${declared}" ${at} meaning)
  string(JSON type ERROR_VARIABLE untyped GET "${declared}" ${at} type)
  if(untyped)
    set(type STRING)
  endif()
  set(${name} "${default}" CACHE ${type} "${meaning}")
  sales_tally_json(value "${${name}}")
  string(JSON inputs SET "${inputs}" settings ${name} "${value}")
endforeach()

# The maintainer's name and address, each shown on its own; a build without
# one names the project as its publisher.
set(SALES_TALLY_PUBLISHER "sales_tally")
set(SALES_TALLY_CONTACT_ADDRESS "")
if(SALES_TALLY_MAINTAINER MATCHES "^(.*[^ ]) *<(.+)>$")
  set(SALES_TALLY_PUBLISHER "${CMAKE_MATCH_1}")
  set(SALES_TALLY_CONTACT_ADDRESS "${CMAKE_MATCH_2}")
elseif(NOT SALES_TALLY_MAINTAINER STREQUAL "")
  message(FATAL_ERROR "SALES_TALLY_MAINTAINER is \"Name <address>\", not \"${SALES_TALLY_MAINTAINER}\"")
endif()
set(SALES_TALLY_PRODUCT_NAME "Sales tally")

# Every packed file carries the time of the last commit, or the caller's
# SOURCE_DATE_EPOCH.
set(commit "")
set(epoch "")
execute_process(COMMAND git log -1 --format=%H%n%ct WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                OUTPUT_VARIABLE last_commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(last_commit MATCHES "^([0-9a-f]+)\n([0-9]+)$")
  set(commit "${CMAKE_MATCH_1}")
  set(epoch "${CMAKE_MATCH_2}")
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
endif()

include("${packaging}/License.cmake")
include("${packaging}/Guides.cmake")

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION [[
An operator at the console types pairs of whole numbers: a product number
(1 to 5) and the quantity of that product sold. The program books each sale
at the product's fixed retail price and, when the operator enters -1, writes
the retail value of all products sold in dollars and cents.
Mistyped values are answered with a message and asked for again.]])
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_STRIP_FILES OFF) # stripped at link time (Reproducible.cmake)
# The link map, of which the bills of materials are made.
if(NOT MSVC)
  set(link_map "${PROJECT_BINARY_DIR}/sales_tally.map")
  target_link_options(sales_tally PRIVATE "LINKER:-Map=${link_map}")
endif()
set(build_tools "${CMAKE_CXX_COMPILER}" "${CMAKE_LINKER}" "${CMAKE_COMMAND}")
if(WIN32)
  include("${packaging}/Windows.cmake")
else()
  include("${packaging}/Debian.cmake")
endif()

# What else release.py is given, lists ;-separated.
foreach(pair IN ITEMS "version;${PROJECT_VERSION}" "commit;${commit}" "epoch;${epoch}"
        "preset;${release_preset}" "name;${CPACK_PACKAGE_FILE_NAME}" "link_map;${link_map}"
        "publisher;${SALES_TALLY_PUBLISHER}" "address;${SALES_TALLY_CONTACT_ADDRESS}"
        "product_code;${SALES_TALLY_PRODUCT_CODE}" "upgrade_code;${SALES_TALLY_UPGRADE_CODE}"
        "msi_arch;${SALES_TALLY_MSI_ARCH}" "product_name;${SALES_TALLY_PRODUCT_NAME}"
        "build;${PROJECT_BINARY_DIR}" "exe_version;${PROJECT_VERSION}.0"
        "build_tools;${build_tools}" "own;${own}" "generators;${generators}")
  list(POP_FRONT pair key)
  sales_tally_json(value "${pair}")
  string(JSON inputs SET "${inputs}" ${key} "${value}")
endforeach()
file(WRITE "${PROJECT_BINARY_DIR}/release-inputs.json" "${inputs}\n")

add_custom_target(packages
  COMMAND "${Python3_EXECUTABLE}" "${packaging}/release.py" "${PROJECT_BINARY_DIR}"
          --config $<CONFIG>
  DEPENDS sales_tally USES_TERMINAL VERBATIM)
