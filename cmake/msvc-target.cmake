# clang-cl standing in for MSVC on Linux (preset msvc-target): the
# windows-msvc configuration with a compiler that runs here. It takes the
# MSVC branch of every CMake file (CMake sets MSVC for clang-cl too) and
# compiles for x86_64-pc-windows-msvc with the Microsoft C++ ABI, under the
# same /W4 /WX flags. There is no MSVC library here, so it compiles and
# never links: the msvc-target build preset builds object files only, and
# the tests labelled msvc-target read them (docs/abi.md, "Without MSVC").
#
# The headers are mingw-w64's C library and libstdc++ (the cross compiler's
# packages), not MSVC's: the standard library's own layouts are therefore
# libstdc++'s, not MSVC's STL. The flags make them parse under clang-cl:
#   -fgnuc-version=12     libstdc++ needs a GNU compiler;
#   __STRICT_ANSI__       libstdc++'s c++config.h wants it with __int128
#                         (clang-cl does not define it);
#   __declspec=__declspec mingw-w64's _mingw.h defines its import macros
#                         only when __declspec is a macro, as it is for GCC.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

find_program(SAPP_CLANG_CL NAMES clang-cl-14 clang-cl REQUIRED)
find_program(SAPP_LLD_LINK NAMES lld-link-14 lld-link)
find_program(SAPP_LLVM_LIB NAMES llvm-lib-14 llvm-lib REQUIRED)
find_program(SAPP_LLVM_RC NAMES llvm-rc-14 llvm-rc)
set(CMAKE_C_COMPILER ${SAPP_CLANG_CL})
set(CMAKE_CXX_COMPILER ${SAPP_CLANG_CL})
set(CMAKE_AR ${SAPP_LLVM_LIB})
if(SAPP_LLD_LINK)
  set(CMAKE_LINKER ${SAPP_LLD_LINK})
endif()
if(SAPP_LLVM_RC)
  set(CMAKE_RC_COMPILER ${SAPP_LLVM_RC})
endif()
# Nothing can be linked: CMake's compiler checks build a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(SAPP_MINGW_ROOT /usr/x86_64-w64-mingw32)
file(GLOB SAPP_MINGW_CXX_INCLUDE /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++)
list(GET SAPP_MINGW_CXX_INCLUDE 0 SAPP_MINGW_CXX_INCLUDE)
if(NOT IS_DIRECTORY "${SAPP_MINGW_CXX_INCLUDE}" OR NOT EXISTS ${SAPP_MINGW_ROOT}/include/_mingw.h)
  message(FATAL_ERROR "msvc-target: needs mingw-w64's C and C++ headers "
                      "(Debian: g++-mingw-w64-x86-64-posix, mingw-w64-x86-64-dev; scripts/deps.sh installs them)")
endif()
string(JOIN " " SAPP_MSVC_TARGET_FLAGS
  --target=x86_64-pc-windows-msvc -fgnuc-version=12 /D__STRICT_ANSI__ /D__declspec=__declspec /X
  -imsvc ${SAPP_MINGW_CXX_INCLUDE} -imsvc ${SAPP_MINGW_CXX_INCLUDE}/x86_64-w64-mingw32
  -imsvc ${SAPP_MINGW_ROOT}/include)
set(CMAKE_C_FLAGS_INIT "${SAPP_MSVC_TARGET_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${SAPP_MSVC_TARGET_FLAGS}")

# Libraries a configure looks for (zlib) come from mingw-w64's tree.
set(CMAKE_FIND_ROOT_PATH ${SAPP_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Registers the object checks (cmake/MsvcTarget.cmake).
set(SAPP_MSVC_TARGET ON CACHE BOOL "clang-cl stands in for MSVC: compile only, check the objects")
