# The i686 GoogleTest suites: the same sources as the shipped 32-bit flavour,
# compiled by the -posix compiler, because GoogleTest needs std::mutex and
# std::condition_variable, which the -win32 thread model lacks. Only test
# programs come from a build with this file; the programs users get, and
# their import check, stay with toolchain-mingw-i686.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-i686.cmake)
set(CMAKE_C_COMPILER   ${VELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-posix)
