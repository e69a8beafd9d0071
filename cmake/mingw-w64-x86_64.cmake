# Cross-builds 64-bit Windows executables with Debian's mingw-w64 (posix thread
# model, for std::thread and std::mutex), statically linked so that they run
# under Wine or on Windows without any runtime DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries and headers come from the mingw sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not hand the host's libraries (GStreamer among them) to a
# Windows build: it sees the mingw sysroot and the Windows media stack
# (KELVARN_WINDOWS_STACK, the prefix scripts/windows-stack.sh prints). Set
# here, since this file is read again for every check that compiles.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${triple}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVARN_WINDOWS_STACK)
if(KELVARN_WINDOWS_STACK)
  set(ENV{PKG_CONFIG_LIBDIR} "${KELVARN_WINDOWS_STACK}/lib/pkgconfig:/usr/${triple}/lib/pkgconfig")
  list(APPEND CMAKE_FIND_ROOT_PATH ${KELVARN_WINDOWS_STACK})
endif()

# Test executables run under Wine; WINEPREFIX and WINEDEBUG come from the caller.
find_program(KELVARN_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT KELVARN_WINE)
  find_program(KELVARN_WINE NAMES wine64 wine)
endif()
if(KELVARN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVARN_WINE})
endif()
