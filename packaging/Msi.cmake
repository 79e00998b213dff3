# Run by cpack's External generator once it has staged the install (and
# Staging.cmake has given it the epoch): builds the .msi with wixl from
# packaging/sales_tally.wxs, the same bytes from any folder at any time.
#
# - The product code follows from the version and the architecture
#   (ProductCode.cmake), so a rebuild of one version is the same product to
#   Windows Installer, never a second one.
# - The package code follows from what the package holds.
# - The File table gets the exe's version, which wixl leaves out.
# - wixl takes no SOURCE_DATE_EPOCH: it runs under faketime on a clock
#   stopped at the epoch, which fixes the summary's dates however long it
#   takes to start; the cabinet takes the files' times, which the staging
#   set. Its package code is random, so msibuild then writes ours into the
#   summary, on the same clock.
include("${CMAKE_CURRENT_LIST_DIR}/Record.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/ProductCode.cmake")
foreach(tool IN ITEMS wixl msibuild faketime)
  find_program(${tool}_program ${tool})
  if(NOT ${tool}_program)
    message(FATAL_ERROR "The .msi needs ${tool}: install Debian's wixl, msitools and faketime")
  endif()
endforeach()

set(staged "${CPACK_TEMPORARY_DIRECTORY}")
set(msi "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi")
set(wxs "${CMAKE_CURRENT_LIST_DIR}/sales_tally.wxs")
set(upgrade_code "${CPACK_SALES_TALLY_UPGRADE_CODE}")
sales_tally_product_code(product_code ${upgrade_code} ${CPACK_PACKAGE_VERSION}
                         ${CPACK_SALES_TALLY_MSI_ARCH})
set(contents "${CPACK_PACKAGE_VERSION} ${CPACK_SALES_TALLY_PUBLISHER}")
file(GLOB staged_files "${staged}/*")
foreach(input IN ITEMS "${wxs}" "${CMAKE_CURRENT_LIST_DIR}/sales_tally.ico" ${staged_files})
  file(SHA256 "${input}" digest)
  string(APPEND contents " ${digest}")
endforeach()
string(UUID package_code NAMESPACE ${upgrade_code} NAME "${contents}" TYPE SHA1 UPPER)

set(ENV{TZ} UTC0)
set(at_epoch "")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  # Without -f, or with faketime's @, the clock would start at the epoch and run.
  string(TIMESTAMP epoch "%Y-%m-%d %H:%M:%S" UTC) # SOURCE_DATE_EPOCH, as UTC0 reads it
  set(at_epoch "${faketime_program}" -f "${epoch}")
endif()
# wixl looks for the files it packs in the folder it runs in.
execute_process(
  COMMAND ${at_epoch} "${wixl_program}" --arch ${CPACK_SALES_TALLY_MSI_ARCH} --output "${msi}"
          --define "Version=${CPACK_PACKAGE_VERSION}" --define "ProductCode=${product_code}"
          --define "Publisher=${CPACK_SALES_TALLY_PUBLISHER}"
          --define "Contact=${CPACK_SALES_TALLY_CONTACT}"
          --define "HelpLink=${CPACK_SALES_TALLY_HELP_LINK}" --define "AboutLink=${CPACK_SALES_TALLY_URL}"
          --define "ProductName=${CPACK_SALES_TALLY_PRODUCT_NAME}" "${wxs}"
  WORKING_DIRECTORY "${staged}" COMMAND_ERROR_IS_FATAL ANY)
# The exe's own version (Windows.cmake), which wixl leaves out of the File
# table: without it Windows Installer takes the exe for an unversioned file.
set(exe_version "${CPACK_SALES_TALLY_EXE_VERSION}")
execute_process(
  COMMAND ${at_epoch} "${msibuild_program}" "${msi}"
          -q "UPDATE `File` SET `Version` = '${exe_version}' WHERE `File` = 'sales_tally.exe'"
          -s "${CPACK_SALES_TALLY_PRODUCT_NAME} ${CPACK_PACKAGE_VERSION}"
          "${CPACK_SALES_TALLY_PUBLISHER}" "${CPACK_SALES_TALLY_MSI_ARCH};1033" "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
sales_tally_sign("${msi}" "${SALES_TALLY_SIGNATURES_FROM}/${CPACK_PACKAGE_FILE_NAME}.msi")
set(CPACK_EXTERNAL_BUILT_PACKAGES "${msi}")
