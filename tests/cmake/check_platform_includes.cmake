# cmake -DROOT=<source tree> -P check_platform_includes.cmake
# The platform rule of the product sources: a system header of the platform (<unistd.h>,
# <fcntl.h>, <dirent.h>, <sys/...>, <pwd.h>, <termios.h>, <poll.h>) is included only by a
# platform file, *_linux.cpp or *_posix.cpp; everything else reaches the platform through the
# small headers beside those files. Fails listing every file that breaks the rule, with the line.
# The sandbox, the tests, the benchmarks and the fuzz targets are not product sources.
set(product_folders app ui net account device upgrade mainwindow feedback suite cli resources)
set(platform_include "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|dirent|pwd|termios|poll)\\.h>|^[ \t]*#[ \t]*include[ \t]*<sys/")

set(offenders "")
foreach(folder IN LISTS product_folders)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
  list(SORT sources)
  foreach(source IN LISTS sources)
    if(source MATCHES "_(linux|posix)\\.cpp$")
      continue()
    endif()
    file(STRINGS ${ROOT}/${source} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line MATCHES "${platform_include}")
        string(STRIP "${line}" line)
        list(APPEND offenders "${source}:${number}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offenders)
  list(JOIN offenders "\n  " listed)
  message(FATAL_ERROR "platform headers outside *_linux.cpp / *_posix.cpp (put the call behind a small "
                      "header with its _linux.cpp beside it):\n  ${listed}")
endif()
