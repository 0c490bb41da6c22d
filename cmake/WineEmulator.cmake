# For the Windows toolchain files (mingw-w64-x86_64.cmake, msvc-wine.cmake):
# ctest runs target executables under Wine, through scripts/wine-run.sh,
# which starts an executable once more when Wine failed to start it (the
# script says how that is told apart and where each restart is reported).
find_program(SAPP_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT SAPP_WINE64)
  find_program(SAPP_WINE64 NAMES wine64 wine)
endif()
if(SAPP_WINE64)
  get_filename_component(_sapp_wine_run ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_sapp_wine_run} ${SAPP_WINE64})
endif()
