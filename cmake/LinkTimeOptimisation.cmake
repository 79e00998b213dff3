# The dialogue's per-sale path crosses modules (writing a text, testing and
# booking a sale) in calls too small to pay for themselves. Optimising at link
# time inlines them: a million sales piped in run over half again as fast.
#
# It is the default for every target of an optimised build, not for some:
# the program's library then holds compiler IR (with clang, LLVM bitcode)
# that only a link-time-optimising link can read, so each target that links
# it, the tests and the benchmark's comparison included, must be built the
# same way.
include(CheckIPOSupported)
check_ipo_supported(RESULT sales_tally_ipo_supported LANGUAGES CXX)
if(sales_tally_ipo_supported)
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
endif()
