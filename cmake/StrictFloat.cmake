# Money is rounded to single precision after every sale, and the cents printed
# depend on each rounding step. Forbid the compiler from fusing a multiply and
# an add into one rounding, in the program's code and in everything that links
# it (which with link-time optimisation compiles its code again). The x86-64
# targets built here compute in SSE registers of the declared width, so there
# is no excess precision to curb.
if(MSVC)
  target_compile_options(sales_tally_options INTERFACE /fp:precise)
elseif(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$")
  target_compile_options(sales_tally_options INTERFACE -ffp-contract=off)
endif()
