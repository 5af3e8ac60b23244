# cmake -DSOURCE=... -DBINARY=... -DCASE=... -P run_platform_includes.cmake
# Runs check_platform_includes.cmake. CASE "product": on the source tree, which must keep the
# rule. Any other CASE: on a small tree planted in BINARY, where the check must fail and list
# exactly the planted offenders.
if(CASE STREQUAL "product")
  set(root ${SOURCE})
  set(expected "")
else()
  file(REMOVE_RECURSE ${BINARY})
  set(root ${BINARY})
  # path | content | listed by the check (yes/no)
  set(planted
    "app/uses_unistd.cpp|#include <unistd.h>|yes"
    "device/header.h|#include <sys/stat.h>|yes"
    "feedback/spaced.cpp|  #  include <poll.h>|yes"
    "cli/deep/nested.cpp|#include <termios.h>|yes"
    "upgrade/pwd_user.cpp|#include <pwd.h>|yes"
    "net/more.cpp|#include <dirent.h>\n#include <fcntl.h>|yes"
    "app/thing_linux.cpp|#include <unistd.h>|no"
    "app/thing_posix.cpp|#include <sys/types.h>|no"
    "app/thing_linux.h|#include <unistd.h>|yes"
    "app/commented.cpp|// #include <unistd.h>\n#include <cstdio>\n#include \"app/sys/x.h\"|no"
    "sandbox/server.cpp|#include <unistd.h>|no"
    "tests/app/probe.cpp|#include <unistd.h>|no"
    "bench/bench.cpp|#include <fcntl.h>|no")
  set(expected "")
  foreach(entry IN LISTS planted)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 path)
    list(GET parts 1 content)
    list(GET parts 2 listed)
    string(REPLACE "\\n" "\n" content "${content}")
    file(WRITE ${root}/${path} "${content}\n")
    if(listed STREQUAL "yes")
      list(APPEND expected ${path})
    endif()
  endforeach()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${CMAKE_CURRENT_LIST_DIR}/check_platform_includes.cmake
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
# The files the check listed (indented "path:line: #include ..."), each once.
string(REGEX MATCHALL "[ \t][^ \t\n:]+:[0-9]+: #" lines "${err}")
set(listed "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[ \t]([^:]+):[0-9]+: #$" "\\1" path "${line}")
  list(APPEND listed ${path})
endforeach()
list(REMOVE_DUPLICATES listed)
list(SORT listed)
list(SORT expected)
if(NOT expected AND NOT rc EQUAL 0)
  message(FATAL_ERROR "case ${CASE}: the check failed:\n${err}")
elseif(expected AND rc EQUAL 0)
  message(FATAL_ERROR "case ${CASE}: the check passed, expected it to list ${expected}")
elseif(NOT listed STREQUAL expected)
  message(FATAL_ERROR "case ${CASE}: the check listed\n  ${listed}\nexpected\n  ${expected}\n${err}")
endif()
