# ACTION=start: makes the Wine prefix PREFIX when it is not there yet and
# starts its Wine server to stay until stopped. ACTION=stop: shuts it down.
# WINE is the wine program; its server is the wineserver beside it.
get_filename_component(bin ${WINE} DIRECTORY)
find_program(wineserver NAMES wineserver HINTS ${bin} /usr/lib/wine REQUIRED)
set(env ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} WINEDEBUG=-all)
# Files, not pipes: the server and the processes wineboot starts outlive the
# command, and would keep a pipe open.
set(quiet OUTPUT_FILE /dev/null ERROR_FILE /dev/null)

if(ACTION STREQUAL "start")
  if(NOT EXISTS ${PREFIX}/system.reg)
    execute_process(COMMAND ${env} ${WINE} wineboot --init RESULT_VARIABLE status ${quiet})
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "wineboot --init failed in ${PREFIX}: ${status}")
    endif()
    # wineboot returns before the prefix is complete; the server ends when it is.
    execute_process(COMMAND ${env} ${wineserver} -w ${quiet})
  endif()
  # A server left by an earlier run keeps running and serves this one:
  # wineserver then refuses to start a second. A stale one is ended first.
  execute_process(COMMAND ${env} ${wineserver} -p RESULT_VARIABLE status ${quiet})
  if(NOT status EQUAL 0)
    execute_process(COMMAND ${env} ${wineserver} -k ${quiet})
    execute_process(COMMAND ${env} ${wineserver} -p RESULT_VARIABLE status ${quiet})
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineserver -p failed: ${status}")
  endif()
  # The prefix's own processes (services and devices) start with the first
  # program and stay as long as the server: started here, they hold no test's
  # output pipe open.
  execute_process(COMMAND ${env} ${WINE} wineboot RESULT_VARIABLE status ${quiet})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wineboot failed in ${PREFIX}: ${status}")
  endif()
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND ${env} ${wineserver} -k ${quiet})
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
