# The guides that ship with the program, written into the build tree when
# configuring (Release.cmake): README.txt for Windows (CR LF) from
# README.txt.in, and the manual page from sales_tally.1.in. What must stay
# in step with the program is filled in here from its one home: the version,
# the prices (src/price_list.h), the date of the last commit, the .msi's
# identity (sales_tally.wxs), the license and the signer. The tests hold the rest of what they say to
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

# Who signs the Windows packages: the subject of the certificate given when
# configuring (sign.py reads it as every signing is held to it), or, in a
# rebuild of a signed release, as its record says.
if(DEFINED SALES_TALLY_SIGN_CERT AND NOT SALES_TALLY_SIGN_CERT STREQUAL "")
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${packaging}/sign.py" --subject
                          "${SALES_TALLY_SIGN_CERT}"
                  OUTPUT_VARIABLE subject OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(SALES_TALLY_SIGNER "${subject}" CACHE STRING "" FORCE)
endif()
# A sentence of README.txt, whole, its variables filled in and its lines
# ended as Windows ends them: configure_file gives only the template's own
# lines CR LF.
function(sales_tally_text variable text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REPLACE "\n" "\r\n" text "${text}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

if(NOT SALES_TALLY_SIGNER STREQUAL "")
  sales_tally_text(SALES_TALLY_SIGNATURE_TEXT [[
Signature. sales_tally.exe and the installer are signed, with a timestamp,
by the certificate whose subject is

    @SALES_TALLY_SIGNER@

In PowerShell, Get-AuthenticodeSignature FILE | Format-List must show
Status Valid, that subject in SignerCertificate, and a
TimeStamperCertificate. An AppLocker or WDAC publisher rule on this
subject, with the product name Sales tally, admits this version and
later ones signed the same way. SHA256SUMS, beside the packages, is
signed by the same certificate (SHA256SUMS.p7s); AUTHORITY.pem beside
it is the certificate of the authority that issued it, whose SHA-256
fingerprint IT can pin.]])
else()
  sales_tally_text(SALES_TALLY_SIGNATURE_TEXT [[
Signature. This build is not signed: Windows shows no publisher for it,
and IT can admit it only by its hash (SHA256SUMS, or the file's own).]])
endif()
# What the license allows: LICENSE.txt (License.cmake).
if(SALES_TALLY_LICENSE STREQUAL "")
  sales_tally_text(SALES_TALLY_LICENSE_TEXT [[
License. None has been granted yet: LICENSE.txt, beside the program,
says what that means. Ask the maintainer before copying the program to
more computers.
Copyright @SALES_TALLY_COPYRIGHT@.]])
else()
  sales_tally_text(SALES_TALLY_LICENSE_TEXT [[
License. LICENSE.txt, beside the program, gives the terms on which it
may be used, copied and deployed (@SALES_TALLY_LICENSE@).
Copyright @SALES_TALLY_COPYRIGHT@.]])
endif()

# Whom to tell of a security problem, and the program's page: only what the
# builder gave, never an address nobody reads.
if(SALES_TALLY_CONTACT_ADDRESS STREQUAL "")
  sales_tally_text(SALES_TALLY_CONTACT_TEXT [[
This build comes without a contact for security reports: tell whoever
gave you the program, privately, not in public.]])
else()
  sales_tally_text(SALES_TALLY_CONTACT_TEXT [[
Report a security problem to @SALES_TALLY_CONTACT_ADDRESS@, privately, not in
public: what you did, what happened, and the version (@PROJECT_VERSION@). You
get an answer within a week; a fix comes as a new version, and the problem is
made public with it.]])
endif()
set(SALES_TALLY_PAGE_TEXT "")
if(NOT SALES_TALLY_URL STREQUAL "")
  set(SALES_TALLY_PAGE_TEXT " More about it:\r\n${SALES_TALLY_URL}")
endif()
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
