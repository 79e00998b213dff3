# The exploit mitigations the program ships with, for the program's code and
# everything that links it. The sanitizer and fuzz builds turn them off
# (SALES_TALLY_HARDEN=OFF): they instrument the same places themselves.
option(SALES_TALLY_HARDEN "Build with stack protection, PIE and read-only relocations" ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)

function(sales_tally_harden target)
  if(MINGW)
    # The linker's defaults already give DYNAMIC_BASE, HIGH_ENTROPY_VA and
    # NX_COMPAT; asked for here so that no change of linker loses them.
    # Stack protection needs its runtime, libssp, which only the compiler
    # driver's link line brings in. Left out: GCC 12's
    # -fstack-clash-protection, which breaks SEH unwinding on this target, and
    # _FORTIFY_SOURCE, which here needs libssp's checked calls and would find
    # nothing to check (see below).
    target_compile_options(${target} INTERFACE -fstack-protector-strong)
    target_link_options(${target} INTERFACE -fstack-protector-strong LINKER:--dynamicbase
                        LINKER:--high-entropy-va LINKER:--nxcompat)
    return()
  endif()
  set_target_properties(${target} PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} INTERFACE -fstack-protector-strong -fstack-clash-protection)
  # _FORTIFY_SOURCE checks libc calls such as read and memcpy where the
  # compiler knows the size of the buffer. The program's read and write
  # (the console's system calls) take a pointer and a size from their
  # caller, through the console's source and sink, and its memcpy comes from
  # the compiler's copies of the buffers: no call has a size to check
  # against. So hardening-check finds only unprotected calls and fails
  # fortify; release.deb accepts that failure alone. Kept for the day there
  # is a call to check. It needs optimisation, which a Debug build lacks. Some compilers
  # (Ubuntu's GCC) set a level of their own when optimising, and a builder's
  # CXXFLAGS may; defining it again would be an error under -Werror, and the
  # level they chose stands.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -O2)
  check_cxx_source_compiles("#ifndef _FORTIFY_SOURCE\n#error not set\n#endif\nint main() {}"
                            SALES_TALLY_FORTIFY_PRESET)
  if(NOT SALES_TALLY_FORTIFY_PRESET)
    target_compile_options(${target} INTERFACE $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  endif()
  # Control-flow protection (-fcf-protection) is not asked for: a program is
  # marked for it only when every object it links is, and Debian 12's C start
  # files are not, so the mark, and hardening-check's pass, cannot come.
  target_link_options(${target} INTERFACE LINKER:-z,relro LINKER:-z,now)
endfunction()

if(SALES_TALLY_HARDEN AND CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  sales_tally_harden(sales_tally_options)
endif()
