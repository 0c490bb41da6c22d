# Cross build for Windows x86-64 with Debian's mingw-w64, run under Wine.
#
# The -posix compilers are required: the default win32 thread model has no
# std::mutex, which GoogleTest needs. Everything links the compiler runtime
# (libgcc, libstdc++, winpthread) statically, so the executables and DLLs
# import only system DLLs and our own DLLs, which sit beside them in bin/.
# Exceptions still cross DLL boundaries: x86-64 unwinds through SEH tables
# and type matching compares type names, not addresses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SAPP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SAPP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SAPP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SAPP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SAPP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also on DLLs: -static-libgcc -static-libstdc++ alone would still
# import libwinpthread-1.dll, which Wine cannot find. (The pure-virtual
# handler is linked in by the root CMakeLists.txt.)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)
set(ZLIB_USE_STATIC_LIBS ON)

# ctest runs target executables through Wine.
include(${CMAKE_CURRENT_LIST_DIR}/WineEmulator.cmake)
