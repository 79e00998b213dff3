# README.txt, what the Windows operator reads, with CR LF line ends:
# packaging/README.txt.in, into which go the parts it shares with README.md.
# README.md marks each such part <!-- README.txt: NAME --> ...
# <!-- /README.txt -->; it arrives as @README_NAME@ in plain text: without
# backticks or code fences, and tables as columns (README.md pads them).
function(sales_tally_windows_readme output)
  file(READ "${PROJECT_SOURCE_DIR}/README.md" markdown)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS README.md)
  string(REPLACE "\r" "" markdown "${markdown}") # a clone may have CR LF
  string(REGEX MATCHALL "<!-- README.txt: [a-z]+ -->" openings "${markdown}")
  foreach(opening IN LISTS openings)
    string(REGEX REPLACE ".*: ([a-z]+) .*" "\\1" name "${opening}")
    string(FIND "${markdown}" "${opening}" start)
    string(SUBSTRING "${markdown}" ${start} -1 part)
    string(FIND "${part}" "<!-- /README.txt -->" end)
    string(SUBSTRING "${part}" 0 ${end} part)
    string(REPLACE "${opening}" "" part "${part}")
    string(REGEX REPLACE "```[a-z]*\n" "" part "${part}")
    string(REGEX REPLACE "\n\\|[-: |]+\\|\n" "\n" part "${part}")
    string(REPLACE "\n| " "\n" part "${part}")
    string(REPLACE " |\n" "\n" part "${part}")
    string(REPLACE " | " "  " part "${part}")
    string(REPLACE "`" "" part "${part}")
    string(STRIP "${part}" part)
    # configure_file ends the template's lines with CR LF, not those inside
    # what it puts in.
    string(REPLACE "\n" "\r\n" part "${part}")
    string(TOUPPER "README_${name}" variable)
    set(${variable} "${part}")
  endforeach()
  configure_file("${PROJECT_SOURCE_DIR}/packaging/README.txt.in" "${output}" @ONLY
                 NEWLINE_STYLE CRLF)
endfunction()
