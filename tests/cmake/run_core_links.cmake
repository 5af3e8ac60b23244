# cmake -DSOURCE=... -DBINARY=... -DCASE=... [-DEXPECT=regex] -P run_core_links.cmake
# Configures the small project for CASE: without EXPECT the configuration must succeed; with it,
# it must fail with an error matching EXPECT.
file(REMOVE_RECURSE ${BINARY})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tests/cmake/core_links -B ${BINARY}
          -DKREVOL_SOURCE_DIR=${SOURCE} -DCASE=${CASE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \t\r\n]+" " " err_flat "${err}")
if(NOT DEFINED EXPECT OR EXPECT STREQUAL "")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "case ${CASE}: the configuration failed (${rc}):\n${out}\n${err}")
  endif()
elseif(rc EQUAL 0)
  message(FATAL_ERROR "case ${CASE}: the configuration succeeded, expected it to fail:\n${out}\n${err}")
elseif(NOT err_flat MATCHES "${EXPECT}")
  message(FATAL_ERROR "case ${CASE}: the error does not match '${EXPECT}':\n${err}")
endif()
