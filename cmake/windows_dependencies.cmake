# Dependencies of the Windows build that Debian packages only for the host.

# nlohmann JSON is header-only: its host headers serve the Windows build too,
# copied on their own so that no other host header comes along.
set(kelvarn_json_include ${PROJECT_BINARY_DIR}/host-headers)
file(COPY /usr/include/nlohmann DESTINATION ${kelvarn_json_include})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${kelvarn_json_include})

# Debian's mingw zlib, linked statically like the rest: no DLL beside the executables.
set(ZLIB_USE_STATIC_LIBS ON)

# GoogleTest has no mingw package: build it from Debian's sources, without the
# project's warnings-as-errors. It provides the GTest:: targets find_package would.
function(kelvarn_add_googletest)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  get_property(options DIRECTORY PROPERTY COMPILE_OPTIONS)
  set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "")
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "${options}")
endfunction()

# Tests are listed when ctest runs, not at build time: listing them needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The media stack scripts/windows-stack.sh cross-builds (GStreamer, GLib and
# the libraries under them, as DLLs); the toolchain file points pkg-config at
# it. Without it the worker builds with no media engine.
set(KELVARN_WINDOWS_STACK "" CACHE PATH "Prefix of the Windows media stack, as scripts/windows-stack.sh prints it")
# Another stack (a new cache key) makes pkg-config, and the library search
# behind its imported target, look again.
if(NOT KELVARN_WINDOWS_STACK STREQUAL "${kelvarn_windows_stack_found}")
  unset(KELVARN_GST_FOUND CACHE)
  get_property(cached DIRECTORY PROPERTY CACHE_VARIABLES)
  list(FILTER cached INCLUDE REGEX "^pkgcfg_lib_KELVARN_GST_")
  foreach(library IN LISTS cached)
    unset(${library} CACHE)
  endforeach()
  set(kelvarn_windows_stack_found "${KELVARN_WINDOWS_STACK}" CACHE INTERNAL "the stack pkg-config last looked in")
endif()
