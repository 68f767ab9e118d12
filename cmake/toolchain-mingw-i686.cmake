# Cross-compiling for i686 Windows with Debian's mingw-w64 toolchain.
# This is the shipped 32-bit flavour, which must start on Windows 98 and
# NT 4.0. It uses the -win32 thread model: the -posix one links winpthread
# statically, and that imports GetTickCount64 (Vista) and
# AddVectoredExceptionHandler (XP). The price is that std::thread, std::mutex
# and std::condition_variable are unavailable, so shipped code must not use
# them (std::atomic is fine), and GoogleTest does not build: this flavour
# builds the programs, the helper programs of their end-to-end tests and those
# tests; the GoogleTest suites of the same sources are built for i686 by
# toolchain-mingw-i686-tests.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VELMORA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${VELMORA_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER  ${VELMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run under 32-bit Wine (Debian's wine32:i386) in a private 32-bit
# prefix inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--win32;${CMAKE_BINARY_DIR}/wineprefix")
