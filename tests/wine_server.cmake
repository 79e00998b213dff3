# Starts or stops the Wine server that the tests under Wine share.
#
#   cmake -DWINE=path/to/wine -DACTION=start|stop -P wine_server.cmake
#
# start makes the prefix if it is new (WINEPREFIX, or ~/.wine), then leaves a
# server running with Wine's services, detached from every pipe of the test
# run; stop ends it and every Wine program of the prefix.
set(ENV{WINEDEBUG} -all)
# No .NET or HTML engine: the programs under test need neither, and a new
# prefix would otherwise try to install them.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")

get_filename_component(wine_dir "${WINE}" DIRECTORY)
find_program(WINESERVER NAMES wineserver64 wineserver HINTS "${wine_dir}" REQUIRED)

function(detached)
  execute_process(COMMAND ${ARGN} INPUT_FILE /dev/null OUTPUT_FILE /dev/null
                  ERROR_FILE /dev/null TIMEOUT 300)
endfunction()

if(ACTION STREQUAL "start")
  detached("${WINE}" wineboot --init) # makes or updates the prefix
  detached("${WINESERVER}" -w)
  detached("${WINESERVER}" -p) # persistent: it outlives each program
  detached("${WINE}" wineboot) # starts the services under that server
elseif(ACTION STREQUAL "stop")
  detached("${WINESERVER}" -k)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
