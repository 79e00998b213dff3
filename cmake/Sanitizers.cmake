# AddressSanitizer and UndefinedBehaviorSanitizer for the program's code and
# everything that links it. Any finding ends the process with a failure, so a
# test that trips one fails. The fuzz build adds coverage for the fuzzer to steer by.
function(sales_tally_sanitize target)
  set(sanitizers address,undefined)
  if(SALES_TALLY_FUZZ)
    set(sanitizers fuzzer-no-link,${sanitizers})
  endif()
  target_compile_options(${target} INTERFACE
    -fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(${target} INTERFACE -fsanitize=address,undefined)
endfunction()
