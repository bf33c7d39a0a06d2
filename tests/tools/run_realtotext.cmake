# Runs realtotext on INPUT and compares its output byte for byte with
# EXPECTED. BAD_LINES lists the line numbers that must be reported as
# malformed (one message each on standard error); with any, the exit status
# must be nonzero, without any it must be 0. RUNNER, when set, is the command
# that runs TOOL (an emulator).
execute_process(COMMAND ${RUNNER} "${TOOL}" INPUT_FILE "${INPUT}"
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
file(READ "${EXPECTED}" expected)
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "output differs from ${EXPECTED}:\n${output}")
endif()

set(reported "")
string(REGEX MATCHALL "line [0-9]+:" messages "${errors}")
foreach(message IN LISTS messages)
  string(REGEX REPLACE "line ([0-9]+):" "\\1" number "${message}")
  list(APPEND reported ${number})
endforeach()
string(REGEX MATCHALL "\n" lineEnds "${errors}")
list(LENGTH lineEnds messageLines)
list(LENGTH reported messageCount)
if(NOT "${reported}" STREQUAL "${BAD_LINES}" OR NOT messageLines EQUAL messageCount)
  message(FATAL_ERROR "expected one message for each of lines '${BAD_LINES}', got:\n${errors}")
endif()

if(BAD_LINES AND status EQUAL 0)
  message(FATAL_ERROR "exit status 0 after malformed lines")
endif()
if(NOT BAD_LINES AND NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status} without malformed lines")
endif()
