# The .msi's product code: new with every version and architecture, so that
# no two packages ever share one, and the same for every build of one, so
# that a rebuild is the same product to Windows Installer. Worked out when
# configuring, for README.txt, and by Msi.cmake for the package it builds.
function(sales_tally_product_code out upgrade_code version arch)
  string(UUID code NAMESPACE ${upgrade_code} NAME "${version} ${arch}" TYPE SHA1 UPPER)
  set(${out} ${code} PARENT_SCOPE)
endfunction()
