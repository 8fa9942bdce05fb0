# One preset's workflow as a test of the native run (tests/CMakeLists.txt),
# its output shown as it goes. Where it stops because npm could not reach
# its registry, nothing of the preset was tried: that is a skip, said as
# one, not a failure.
#   cmake -DPRESET=... -DNAME=... -P preset_test.cmake   (from the top of the source tree)
execute_process(COMMAND ${CMAKE_COMMAND} --workflow --preset ${PRESET}
                RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said
                ECHO_OUTPUT_VARIABLE ECHO_ERROR_VARIABLE)
if(status EQUAL 0)
  return()
endif()
if(said MATCHES "npm (ERR!|error) [^\n]*(ENOTFOUND|EAI_AGAIN|ETIMEDOUT|ECONNREFUSED|ECONNRESET|ENETUNREACH)")
  message("npm could not reach its registry (${CMAKE_MATCH_2}): ${NAME} suites skipped")
  return()
endif()
message(FATAL_ERROR "the ${PRESET} workflow failed (${status})")
