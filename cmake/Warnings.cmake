# Warnings for our own targets (third-party headers are included as system headers).
function(krevol_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  if(KREVOL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
