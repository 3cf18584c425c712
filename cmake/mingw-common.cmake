# Debian's MinGW-w64 (posix thread model, for std::thread and friends in the tests).
set(CMAKE_C_COMPILER ${QZ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test executables run under Wine: "wine" starts the loader of the program's own architecture (32-bit
# programs need the 32-bit side of Wine, wine32).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
