# For the Windows toolchain files (mingw-w64-x86_64.cmake, msvc-wine.cmake):
# ctest (and add_custom_command) run target executables through Wine.
find_program(SAPP_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT SAPP_WINE64)
  find_program(SAPP_WINE64 NAMES wine64 wine)
endif()
if(SAPP_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SAPP_WINE64})
endif()
