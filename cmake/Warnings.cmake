# Warning flags chosen by compiler id, so that every flavour (g++, clang,
# mingw g++) gets the set it understands.
option(VELMORA_WERROR "Treat compiler warnings as errors" OFF)

function(velmora_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wshadow -Wconversion -Wsign-conversion>)
    if(VELMORA_WERROR)
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
    endif()
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "MSVC")
    target_compile_options(${target} PRIVATE /W4)
  endif()
endfunction()
