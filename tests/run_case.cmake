# Runs the program once on an input file and checks its exit status, that
# nothing went to standard error, and, when EXPECTED is given, its whole
# standard output byte for byte.
#
#   cmake -DPROGRAM=... -DINPUT=... [-DEXPECTED=file.out] [-DOUTPUT=path]
#         [-DEXPECTED_STATUS=0] [-DEMULATOR=...] [-DCRLF=ON] [-DMEND=file]
#         -P run_case.cmake
#
# OUTPUT sends standard output somewhere else (a device that cannot be
# written, say) instead of capturing it. CRLF expects every newline of the
# expected file as CR LF, as a Windows build writes it. MEND names the copy
# of the program's behaviour that a difference says to mend.
if(NOT DEFINED EXPECTED_STATUS)
  set(EXPECTED_STATUS 0)
endif()
get_filename_component(name "${INPUT}" NAME_WE)
if(NOT DEFINED OUTPUT)
  set(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${name}.actual")
endif()

execute_process(
  COMMAND ${EMULATOR} "${PROGRAM}"
  INPUT_FILE "${INPUT}"
  OUTPUT_FILE "${OUTPUT}"
  ERROR_VARIABLE errors
  RESULT_VARIABLE status
  TIMEOUT 60)

if(NOT status STREQUAL EXPECTED_STATUS)
  # How the output ended tells a whole report (the program saw a failure)
  # from none (it never ran to its end).
  set(ending "")
  if(EXISTS "${OUTPUT}" AND NOT IS_DIRECTORY "${OUTPUT}")
    file(SIZE "${OUTPUT}" size)
    set(from 0)
    if(size GREATER 160)
      math(EXPR from "${size} - 160")
    endif()
    file(READ "${OUTPUT}" ending OFFSET ${from})
    set(ending "; its output, ${size} bytes, ends:\n${ending}")
  endif()
  message(FATAL_ERROR "${name} (${INPUT}): exit status ${status}, expected ${EXPECTED_STATUS}"
                      "${ending}")
endif()
if(NOT errors STREQUAL "")
  message(FATAL_ERROR "${name}: wrote to standard error:\n${errors}")
endif()
if(DEFINED EXPECTED AND CRLF)
  file(READ "${EXPECTED}" text)
  string(REPLACE "\n" "\r\n" text "${text}")
  set(EXPECTED "${CMAKE_CURRENT_BINARY_DIR}/${name}.expected")
  file(WRITE "${EXPECTED}" "${text}")
endif()
if(DEFINED EXPECTED)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}" "${EXPECTED}"
                  RESULT_VARIABLE different)
  if(different)
    # A unified diff shows $40.42 against $40.62 at once; on a machine
    # without diff, the two files are named.
    find_program(DIFF diff)
    set(shown "")
    if(DIFF)
      execute_process(COMMAND "${DIFF}" -u --label expected --label actual "${EXPECTED}" "${OUTPUT}"
                      OUTPUT_VARIABLE shown)
    endif()
    if(DEFINED MEND)
      set(shown "${shown}If the program changed on purpose, change ${MEND} to match.\n")
    endif()
    message(FATAL_ERROR "${name}: output differs from ${EXPECTED} (${OUTPUT}):\n${shown}")
  endif()
endif()
