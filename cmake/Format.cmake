# `cmake --build <dir> --target format` formats every C++ file of the project.
find_program(CLANG_FORMAT_EXE NAMES clang-format clang-format-14)
if(CLANG_FORMAT_EXE)
  file(GLOB_RECURSE KREVOL_FORMAT_FILES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/app/*.h
    ${CMAKE_SOURCE_DIR}/ui/*.cpp ${CMAKE_SOURCE_DIR}/ui/*.h
    ${CMAKE_SOURCE_DIR}/net/*.cpp ${CMAKE_SOURCE_DIR}/net/*.h
    ${CMAKE_SOURCE_DIR}/account/*.cpp ${CMAKE_SOURCE_DIR}/account/*.h
    ${CMAKE_SOURCE_DIR}/device/*.cpp ${CMAKE_SOURCE_DIR}/device/*.h
    ${CMAKE_SOURCE_DIR}/upgrade/*.cpp ${CMAKE_SOURCE_DIR}/upgrade/*.h
    ${CMAKE_SOURCE_DIR}/mainwindow/*.cpp ${CMAKE_SOURCE_DIR}/mainwindow/*.h
    ${CMAKE_SOURCE_DIR}/feedback/*.cpp ${CMAKE_SOURCE_DIR}/feedback/*.h
    ${CMAKE_SOURCE_DIR}/suite/*.cpp ${CMAKE_SOURCE_DIR}/suite/*.h
    ${CMAKE_SOURCE_DIR}/cli/*.cpp ${CMAKE_SOURCE_DIR}/cli/*.h
    ${CMAKE_SOURCE_DIR}/sandbox/*.cpp ${CMAKE_SOURCE_DIR}/sandbox/*.h
    ${CMAKE_SOURCE_DIR}/bench/*.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/*.cpp ${CMAKE_SOURCE_DIR}/fuzz/*.h
    ${CMAKE_SOURCE_DIR}/tests/*.cpp ${CMAKE_SOURCE_DIR}/tests/*.h)
  add_custom_target(format COMMAND ${CLANG_FORMAT_EXE} -i ${KREVOL_FORMAT_FILES}
    COMMENT "Formatting sources" VERBATIM)
endif()
