# The guides that ship with the program, written into every build tree when
# configuring so that the tests can hold them to the program: README.txt for
# Windows (CR LF) and the manual page. What must stay in step is filled in
# from its one home: the version, the prices (src/price_list.h), the date of
# the last commit, the .msi's identity (sales_tally.wxs), and each release
# setting's sentences, as settings.json declares them.
set(wxs "${packaging}/sales_tally.wxs")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${wxs}"
             "${PROJECT_SOURCE_DIR}/src/price_list.h")

# The .msi's identity. The UpgradeCode never changes; the product code is
# new with every version and architecture, and the same for every build of
# one, so that a rebuild is the same product to Windows Installer.
file(READ "${wxs}" wxs_text)
string(REGEX MATCH "UpgradeCode=\"([-0-9A-F]+)\"" found "${wxs_text}")
set(SALES_TALLY_UPGRADE_CODE "${CMAKE_MATCH_1}")
set(SALES_TALLY_MSI_ARCH x64)
string(UUID SALES_TALLY_PRODUCT_CODE NAMESPACE ${SALES_TALLY_UPGRADE_CODE}
       NAME "${PROJECT_VERSION} ${SALES_TALLY_MSI_ARCH}" TYPE SHA1 UPPER)
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

# Each setting's sentence: "given" when it has a value, else "none", into
# README.txt's section, a whole text with its variables filled in: no list.
set(readme_IT "")
set(readme_SUPPORT "")
foreach(at RANGE ${last})
  string(JSON name GET "${declared}" ${at} name)
  set(given given)
  if("${${name}}" STREQUAL "")
    set(given none)
  endif()
  string(JSON section ERROR_VARIABLE no_section GET "${declared}" ${at} section)
  string(JSON text ERROR_VARIABLE no_text GET "${declared}" ${at} ${given})
  if(NOT no_section AND NOT no_text)
    string(CONFIGURE "${text}" text @ONLY)
    string(APPEND readme_${section} "\n\n${text}")
  endif()
endforeach()
foreach(section IN ITEMS IT SUPPORT)
  string(REGEX REPLACE "^\n\n" "" text "${readme_${section}}")
  # configure_file gives only the template's own lines CR LF.
  string(REPLACE "\n" "\r\n" SALES_TALLY_${section}_TEXTS "${text}")
endforeach()
list(JOIN readme_rows "\r\n" SALES_TALLY_PRICE_ROWS)
configure_file("${packaging}/README.txt.in" "${PROJECT_BINARY_DIR}/README.txt" @ONLY
               NEWLINE_STYLE CRLF)

# The manual page is dated by the epoch, as the packages are: CMake's time is
# SOURCE_DATE_EPOCH's when it is set, and now's when it is empty.
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
string(TIMESTAMP SALES_TALLY_DATE "%Y-%m-%d" UTC)
list(JOIN man_rows "\n" SALES_TALLY_PRICE_ROWS)
configure_file("${packaging}/sales_tally.1.in" "${PROJECT_BINARY_DIR}/sales_tally.1" @ONLY)
