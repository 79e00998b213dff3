# The guides that ship with the program, written into the build tree when
# configuring (Release.cmake): README.txt for Windows (CR LF) from
# README.txt.in, and the manual page from sales_tally.1.in. What must stay
# in step with the program is filled in here from its one home: the version,
# the prices (src/price_list.h), the date of the last commit, and the .msi's
# identity (sales_tally.wxs). The tests hold the rest of what they say to
# what the program does.
set(wxs "${packaging}/sales_tally.wxs")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${wxs}"
             "${PROJECT_SOURCE_DIR}/src/price_list.h")

# The .msi's identity. The UpgradeCode never changes; the product code is
# new with every version and architecture.
include("${packaging}/ProductCode.cmake")
file(STRINGS "${wxs}" SALES_TALLY_UPGRADE_CODE REGEX "UpgradeCode=")
string(REGEX REPLACE ".*UpgradeCode=\"([-0-9A-F]+)\".*" "\\1" SALES_TALLY_UPGRADE_CODE
       "${SALES_TALLY_UPGRADE_CODE}")
set(SALES_TALLY_MSI_ARCH x64)
sales_tally_product_code(SALES_TALLY_PRODUCT_CODE ${SALES_TALLY_UPGRADE_CODE} ${PROJECT_VERSION}
                         ${SALES_TALLY_MSI_ARCH})

# The default install folder, as the .wxs names it.
file(READ "${wxs}" wxs_text)
string(REGEX MATCH "<Directory Id=\"INSTALLDIR\" Name=\"([^\"]+)\"" found "${wxs_text}")
set(SALES_TALLY_INSTALL_FOLDER "C:\\Program Files\\${CMAKE_MATCH_1}")

# The prices, as src/price_list.h spells them (2.98F), written with cents;
# the initializer may be wrapped over lines.
file(READ "${PROJECT_SOURCE_DIR}/src/price_list.h" prices)
string(REGEX REPLACE ".*productPrices = \\{([^}]*)\\}.*" "\\1" prices "${prices}")
string(REGEX REPLACE "[ \t\r\nFf]" "" prices "${prices}")
string(REPLACE "," ";" prices "${prices}")
set(readme_rows "")
set(man_rows "")
set(product 0)
foreach(price IN LISTS prices)
  math(EXPR product "${product} + 1")
  string(REGEX REPLACE "^([0-9]+)$" "\\1.00" price "${price}")
  string(REGEX REPLACE "^([0-9]+\\.[0-9])$" "\\10" price "${price}")
  list(APPEND readme_rows "    ${product}         $${price}")
  list(APPEND man_rows "${product}\t$${price}")
endforeach()

# configure_file gives the template's own lines CR LF, not the lines it puts in.
list(JOIN readme_rows "\r\n" SALES_TALLY_PRICE_ROWS)
configure_file("${packaging}/README.txt.in" "${PROJECT_BINARY_DIR}/README.txt" @ONLY
               NEWLINE_STYLE CRLF)

# The manual page is dated by the last commit, as the packages are.
if(NOT CPACK_SALES_TALLY_EPOCH STREQUAL "")
  sales_tally_callers_epoch(callers_epoch)
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_SALES_TALLY_EPOCH}")
  string(TIMESTAMP SALES_TALLY_DATE "%Y-%m-%d" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${callers_epoch}")
else()
  string(TIMESTAMP SALES_TALLY_DATE "%Y-%m-%d" UTC)
endif()
list(JOIN man_rows "\n" SALES_TALLY_PRICE_ROWS)
configure_file("${packaging}/sales_tally.1.in" "${PROJECT_BINARY_DIR}/sales_tally.1" @ONLY)
