# What every release shares: who it says it is, its license, its epoch and
# record, the scripts cpack runs, the guides; then what an install puts
# where and the packages cpack makes of it, on Windows (Windows.cmake) or
# elsewhere (Debian.cmake). Each writes SHA256SUMS beside its packages
# (Checksums.cmake). The guide to all of it is README.md beside this file.
include(GNUInstallDirs)
set(packaging "${CMAKE_CURRENT_LIST_DIR}")

# The release settings, each declared once in settings.json: its name,
# meaning, default, where it shows, what a signed release says without it
# (signed_needs: sign.py refuses the default) and the value CI's signed
# release gives it (ci; a FILEPATH's is the file's text). Each is a cache
# variable, reaches README.txt as @NAME@, and the release's record carries
# every one (Record.cmake; a file by its text), which a rebuild gives again
# (rebuild.py).
file(READ "${packaging}/settings.json" declared)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${packaging}/settings.json")
string(JSON count LENGTH "${declared}")
math(EXPR last "${count} - 1")
set(CPACK_SALES_TALLY_RELEASE_SETTINGS "")
foreach(at RANGE ${last})
  string(JSON name GET "${declared}" ${at} name)
  string(JSON default GET "${declared}" ${at} default)
  string(JSON meaning GET "${declared}" ${at} meaning)
  string(JSON type ERROR_VARIABLE untyped GET "${declared}" ${at} type)
  if(untyped)
    set(type STRING)
  endif()
  set(${name} "${default}" CACHE ${type} "${meaning}")
  list(APPEND CPACK_SALES_TALLY_RELEASE_SETTINGS ${name})
endforeach()

# Without a maintainer or page, a package names none, and says so; no signed
# release is made without them (sign.py).
set(SALES_TALLY_PUBLISHER "sales_tally")
set(SALES_TALLY_CONTACT_ADDRESS "")
if(SALES_TALLY_MAINTAINER MATCHES "^(.*[^ ]) *<(.+)>$")
  set(SALES_TALLY_PUBLISHER "${CMAKE_MATCH_1}")
  set(SALES_TALLY_CONTACT_ADDRESS "${CMAKE_MATCH_2}")
elseif(NOT SALES_TALLY_MAINTAINER STREQUAL "")
  message(FATAL_ERROR "SALES_TALLY_MAINTAINER is \"Name <address>\", not \"${SALES_TALLY_MAINTAINER}\"")
endif()
set(SALES_TALLY_PRODUCT_NAME "Sales tally")
# LICENSE.txt and the .deb's copyright.
include("${packaging}/License.cmake")

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
  set(CPACK_SALES_TALLY_PACKAGING_TOOLS wixl msibuild faketime osslsigncode openssl)
else()
  set(CPACK_SALES_TALLY_PACKAGING_TOOLS dpkg-deb openssl)
endif()
set(CPACK_PRE_BUILD_SCRIPTS "${packaging}/Checksums.cmake" "${packaging}/Staging.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${packaging}/Modes.cmake" "${packaging}/Sbom.cmake"
                              "${packaging}/Checksums.cmake")

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

# Code signing (Sign.cmake): the Windows files and, in every release,
# SHA256SUMS (vouch.py). The certificate, the key (a file or a PKCS#11
# URI) with the module that reaches its token, and the timestamp servers;
# or the published packages whose signatures a rebuild attaches. The
# passphrase or PIN comes from the environment when cpack runs, never from
# here.
set(SALES_TALLY_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate for the Windows files and SHA256SUMS")
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

# README.txt and the manual page, written in every build so that the tests
# can hold them to the program.
include("${packaging}/Guides.cmake")

# The release settings as cpack's scripts see them, after Guides.cmake has
# read the signer.
foreach(setting IN LISTS CPACK_SALES_TALLY_RELEASE_SETTINGS)
  set(CPACK_${setting} "${${setting}}")
endforeach()

if(WIN32)
  include("${packaging}/Windows.cmake")
else()
  include("${packaging}/Debian.cmake")
endif()

# The generators of a whole release: cpack -G gives its scripts only the one
# at work.
set(CPACK_SALES_TALLY_GENERATORS ${CPACK_GENERATOR})
