# The MSVC-ABI build on Linux (preset msvc-wine): clang-cl and lld-link
# build every target for x86_64-pc-windows-msvc, the Microsoft C++ ABI,
# against MSVC's own standard library headers (third_party/msvc-stl) and
# Wine's C runtime and Windows headers, and link them against Wine's
# runtime DLLs (ucrtbase, vcruntime140, msvcp140); the tests run under Wine.
# The pieces of MSVC's runtime that are not open source (compiler-runtime
# headers, the static start-up code) are msvc-runtime/, which the root
# CMakeLists.txt builds first and links into every target
# (msvc-runtime/README.md).
#
#   --target=...-msvc -fms-compatibility-version=19.33
#                       MSVC 17.3's ABI and language level, which the pinned
#                       standard library expects
#   /X -imsvc ...       no system headers but these, in this order: ours,
#                       the standard library's, Wine's C runtime, Wine's
#                       Windows headers
#   /Zc:__cplusplus     the real language level in __cplusplus, as MSVC
#                       gives it with this switch
#   _USE_STD_VECTOR_ALGORITHMS=0
#                       the library's vectorised helpers live in the static
#                       part of MSVC's runtime, not in msvcp140.dll; off,
#                       the library uses its portable loops (no ABI change)
#   WINE_UNICODE_NATIVE Wine's WCHAR is wchar_t, as on Windows
# CMake adds /MD (the DLL runtime, the only one Wine provides) and Release's
# /O2 (the preset builds Release; so must every project built with this
# file: no debug runtime, /MDd with msvcp140d.dll and a 40-byte std::string,
# exists to run a Debug build); the root CMakeLists.txt adds /W4 /WX /permissive- /EHs /EHc- /utf-8.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

find_program(SAPP_CLANG_CL NAMES clang-cl-14 clang-cl REQUIRED)
find_program(SAPP_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
find_program(SAPP_LLVM_LIB NAMES llvm-lib-14 llvm-lib REQUIRED)
find_program(SAPP_LLVM_RC NAMES llvm-rc-14 llvm-rc REQUIRED)
set(CMAKE_C_COMPILER ${SAPP_CLANG_CL})
set(CMAKE_CXX_COMPILER ${SAPP_CLANG_CL})
set(CMAKE_LINKER ${SAPP_LLD_LINK})
set(CMAKE_AR ${SAPP_LLVM_LIB})
set(CMAKE_RC_COMPILER ${SAPP_LLVM_RC})
# The runtime libraries are built by the project itself, so CMake's
# compiler checks cannot link yet: they build a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

get_filename_component(SAPP_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(SAPP_WINE_INCLUDE /usr/include/wine/wine)
set(SAPP_WINE_DLLS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(NOT EXISTS ${SAPP_WINE_INCLUDE}/msvcrt/corecrt.h OR NOT EXISTS ${SAPP_WINE_DLLS}/msvcp140.dll)
  message(FATAL_ERROR "msvc-wine: needs Wine's headers and runtime DLLs "
                      "(Debian: libwine-dev, wine64; scripts/deps.sh windows installs them)")
endif()

string(JOIN " " SAPP_MSVC_WINE_FLAGS
  --target=x86_64-pc-windows-msvc -fms-compatibility-version=19.33 /Zc:__cplusplus /X
  /D_USE_STD_VECTOR_ALGORITHMS=0 /DWINE_UNICODE_NATIVE
  -imsvc ${SAPP_SOURCE_ROOT}/msvc-runtime/include
  -imsvc ${SAPP_SOURCE_ROOT}/third_party/msvc-stl/stl/inc
  -imsvc ${SAPP_WINE_INCLUDE}/msvcrt
  -imsvc ${SAPP_WINE_INCLUDE}/windows)
set(CMAKE_C_FLAGS_INIT "${SAPP_MSVC_WINE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${SAPP_MSVC_WINE_FLAGS}")
# No default libraries (the objects ask for msvcrt.lib and oldnames.lib,
# which do not exist here): this project builds its own and links them into
# every target (msvc-runtime/). A project built against an installed sapp
# package (examples/minimal-host) names them instead, the runtime library
# and import libraries of a msvc-wine build, in SAPP_MSVC_RUNTIME_LIBRARIES
# (scripts/minimal-host.sh does). A PDB beside every binary; no manifest
# (nothing here embeds one).
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/nodefaultlib /debug /manifest:no")
endforeach()
set(SAPP_MSVC_RUNTIME_LIBRARIES "" CACHE STRING "MSVC runtime libraries for a project outside this one")
set(CMAKE_C_STANDARD_LIBRARIES "${SAPP_MSVC_RUNTIME_LIBRARIES}" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${SAPP_MSVC_RUNTIME_LIBRARIES}" CACHE STRING "" FORCE)

# zlib (for pktcore and sapp-host): mingw-w64's static library, plain C with
# the same calling convention; only inflate and deflate are linked. Its
# headers are copied on their own (msvc-runtime/CMakeLists.txt): mingw-w64's
# include folder must not come into the include path.
set(ZLIB_LIBRARY /usr/x86_64-w64-mingw32/lib/libz.a CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Threads are Windows threads: CMake's checks compile without linking and
# would otherwise "find" a pthreads library for GoogleTest to link.
foreach(check CMAKE_HAVE_LIBC_PTHREAD CMAKE_HAVE_PTHREADS_CREATE CMAKE_HAVE_PTHREAD_CREATE THREADS_HAVE_PTHREAD_ARG)
  set(${check} FALSE CACHE INTERNAL "")
endforeach()

# ctest runs target executables through Wine.
include(${CMAKE_CURRENT_LIST_DIR}/WineEmulator.cmake)

set(SAPP_MSVC_WINE ON CACHE BOOL "MSVC ABI with clang-cl against MSVC's standard library, run under Wine")
