# The warning set every target of the project compiles with. Presets turn
# warnings into errors with CMAKE_COMPILE_WARNING_AS_ERROR.
function(sales_tally_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
endfunction()
