# How the program's code is compiled and linked, as one INTERFACE target.
# sales_tally_core links it PUBLIC, so the program and everything else that
# links the program's code (the tests, the fuzzer, the benchmark) is built
# the same way: with link-time optimisation that matters (LinkTimeOptimisation.cmake).
add_library(sales_tally_options INTERFACE)
include(Warnings)
include(StrictFloat)
include(LinkTimeOptimisation)
include(Hardening)
include(Reproducible)
