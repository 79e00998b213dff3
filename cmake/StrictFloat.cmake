# Money is rounded to single precision after every sale, and the cents printed
# depend on each rounding step. Forbid the compiler from fusing a multiply and
# an add into one rounding. (The x86-64 targets built here compute in SSE
# registers of the declared width, so there is no excess precision to curb.)
function(sales_tally_strict_float target)
  target_compile_options(${target} PRIVATE -ffp-contract=off)
endfunction()
