# The warning set the project's code compiles with, in the words of its
# compiler; a compiler of another kind gets none. The developer presets turn
# warnings into errors (CMAKE_COMPILE_WARNING_AS_ERROR), so a user's newer
# compiler cannot fail the build on a warning it has newly learnt. The last
# three hold in the compiler the rule that every conversion is spelled out:
# a float widened to double, a signed value made unsigned, a C cast.
if(MSVC)
  target_compile_options(sales_tally_options INTERFACE /W4 /permissive-)
elseif(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang|AppleClang)$")
  target_compile_options(sales_tally_options INTERFACE -Wall -Wextra -Wpedantic -Wconversion
                                                       -Wshadow -Wdouble-promotion
                                                       -Wsign-conversion -Wold-style-cast)
endif()
