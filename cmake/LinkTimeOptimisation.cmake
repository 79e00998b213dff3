# The dialogue's per-sale path crosses modules (writing a text, testing and
# booking a sale) in calls too small to pay for themselves. Optimising at link
# time inlines them: a million sales piped in run over half again as fast.
include(CheckIPOSupported)
check_ipo_supported(RESULT sales_tally_ipo_supported LANGUAGES CXX)

function(sales_tally_optimise_across_modules target)
  if(sales_tally_ipo_supported)
    set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
  endif()
endfunction()
