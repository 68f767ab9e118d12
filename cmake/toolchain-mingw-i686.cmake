# Cross-compiling for i686 Windows with Debian's mingw-w64 toolchain.
# The -posix thread model is required: GoogleTest (and std::thread /
# std::condition_variable in general) do not build with the -win32 variant.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VELMORA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${VELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VELMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 32-bit Linux executables cannot start on the build machines, so Wine's
# 32-bit loader is unavailable: this flavour is compiled and linked only.
# No emulator is set, so an accidental test run fails loudly instead of
# pretending to pass.
