# Warnings for our own targets; call velk_warnings(<target>).
function(velk_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wformat=2 -Wnon-virtual-dtor -Wold-style-cast
    -Woverloaded-virtual -Wshadow -Wcast-qual -Wvla)
  if(VELK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
