# What integrators get: the install tree of `cmake --install` and the
# archives of `cpack` (sapp-<version>-Linux.tar.gz, and for Windows
# sapp-<version>-win64-msvc.zip or sapp-<version>-win64-mingw.zip).
#
#   include/sapp/        the headers a host needs (see SAPP_INSTALL_HEADERS)
#   lib/                 the module and the stand-in host libraries (their
#                        DLLs go to bin/ on Windows, the import libraries here)
#   bin/                 sapp-host (and, from the msvc-wine build, the PDB
#                        of every DLL and EXE)
#   share/sapp/scenarios the scenario folder for sapp-host
#   share/doc/sapp/      README, ARCHITECTURE, LICENSE, docs/ and examples/,
#                        laid out as in the source tree so that the README's
#                        links hold
#   lib/cmake/sapp/      the package: find_package(sapp CONFIG) gives
#                        sapp::headers, sapp::module, sapp::pktcore and
#                        sapp::tarnbase
#   lib/pkgconfig/       sapp.pc, the same for pkg-config: the headers, the
#                        stand-in host libraries and the module's path
#
# Tests, GoogleTest and the test module of sapp-host are not installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SAPP_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/sapp)
set(SAPP_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/sapp)

# The headers a host includes, relative to the source tree; they keep their
# folder (#include "host/ISession.h"). A folder stands for all its headers
# but test helpers; names that do not exist (yet, or any more) are skipped,
# so records moving between folders need no change here (but a host's
# include of the old path would: SAPP_MOVED_HEADERS below).
set(SAPP_INSTALL_HEADERS
  host                          # host interfaces, client and event records
  module/ISessionMod.h          # the exported interfaces and entry points
  module/Export.h
  module/PerfRecord.h
  marshal                       # pakt, which the records and their headers use
  protocol                      # the wire records the event records hold
  standin/pktcore/StandinSession.h    # the stand-in host libraries' own API
  standin/tarnbase/HostFaults.h
  standin/tarnbase/StandinDatabase.h
  standin/tarnbase/StandinLog.h)

foreach(entry IN LISTS SAPP_INSTALL_HEADERS)
  set(path ${PROJECT_SOURCE_DIR}/${entry})
  if(IS_DIRECTORY ${path})
    install(DIRECTORY ${path}/ DESTINATION ${SAPP_INSTALL_INCLUDEDIR}/${entry}
            FILES_MATCHING PATTERN "*.h" PATTERN "*Test.h" EXCLUDE PATTERN "test_*.h" EXCLUDE)
  elseif(EXISTS ${path})
    get_filename_component(folder ${entry} DIRECTORY)
    install(FILES ${path} DESTINATION ${SAPP_INSTALL_INCLUDEDIR}/${folder})
  endif()
endforeach()

# Headers that moved, under the path hosts include them by ("old=new",
# both relative to include/sapp/): each old path is installed as a header
# that includes the new one, so that a host's includes keep working. In the
# source tree only the new path exists.
set(SAPP_MOVED_HEADERS
  # the client events, out of host/ (which includes nothing of the project)
  host/ClientEvents.h=protocol/ClientEvents.h)
set(SAPP_MOVED_HEADERS_DIR ${PROJECT_BINARY_DIR}/moved-headers)

foreach(entry IN LISTS SAPP_MOVED_HEADERS)
  string(REPLACE "=" ";" paths ${entry})
  list(GET paths 0 old)
  list(GET paths 1 new)
  file(CONFIGURE OUTPUT ${SAPP_MOVED_HEADERS_DIR}/${old} CONTENT
       "// ${old} is now ${new}; this header only includes that one.\n#pragma once\n\n#include \"${new}\"\n")
  get_filename_component(folder ${old} DIRECTORY)
  install(FILES ${SAPP_MOVED_HEADERS_DIR}/${old} DESTINATION ${SAPP_INSTALL_INCLUDEDIR}/${folder})
endforeach()

set_target_properties(sapp PROPERTIES EXPORT_NAME module)
if(NOT WIN32)
  # The installed libraries find each other in lib/, sapp-host finds them
  # from bin/.
  set_target_properties(sapp pktcore tarnbase PROPERTIES INSTALL_RPATH "$ORIGIN")
  set_target_properties(sapp-host PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

install(TARGETS sapp_headers sapp pktcore tarnbase EXPORT sappTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS sapp-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The msvc-wine build links every binary with /debug: each DLL and EXE has
# its PDB beside it (sapp.pdb with the module's types and lines, the others
# with their lines), which a Windows debugger or crash-dump reader finds
# there. (A windows-msvc Release build writes none.)
if(SAPP_MSVC_WINE)
  foreach(target sapp pktcore tarnbase sapp-host)
    install(FILES $<TARGET_PDB_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/scenarios/ DESTINATION ${CMAKE_INSTALL_DATADIR}/sapp/scenarios)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/ARCHITECTURE.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs ${PROJECT_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The toolchain family the package is built by, which a host must share
# (docs/abi.md): msvc (Microsoft C++ ABI, MSVC's standard library), mingw
# (mingw-w64 GCC: Itanium C++ ABI, libstdc++) or itanium (Linux). The CMake
# package refuses a host of the other family on Windows, the pkg-config file
# and the archive's name carry it.
if(MSVC)
  set(SAPP_ABI msvc)
elseif(MINGW)
  set(SAPP_ABI mingw)
else()
  set(SAPP_ABI itanium)
endif()

# pkg-config: the module's file as installed, relative to the prefix, and
# what a host links. On Linux the library folder is also the host's run
# path, so that a host built with these flags starts wherever the package
# is (its libraries are not in the system's folders), and -ldl gives
# dlopen on C libraries that keep it apart; a Windows host finds the DLLs
# beside it.
if(WIN32)
  set(SAPP_PC_MODULE "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:sapp>")
  set(SAPP_PC_LIBS "-L\${libdir} -lpktcore -ltarnbase")
else()
  set(SAPP_PC_MODULE "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:sapp>")
  set(SAPP_PC_LIBS "-L\${libdir} -Wl,-rpath,\${libdir} -lpktcore -ltarnbase -ldl")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sapp.pc.in ${PROJECT_BINARY_DIR}/sapp.pc.in-configured @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/sapp.pc INPUT ${PROJECT_BINARY_DIR}/sapp.pc.in-configured)
install(FILES ${PROJECT_BINARY_DIR}/sapp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT sappTargets NAMESPACE sapp:: DESTINATION ${SAPP_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/sappConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/sappConfig.cmake
                              INSTALL_DESTINATION ${SAPP_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sappConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/sappConfig.cmake ${PROJECT_BINARY_DIR}/sappConfigVersion.cmake
        DESTINATION ${SAPP_INSTALL_CMAKEDIR})

# cpack: the install tree as one archive, sapp-<version>-Linux.tar.gz, or for
# Windows sapp-<version>-win64-msvc.zip (MSVC hosts) and
# sapp-<version>-win64-mingw.zip (mingw-w64 hosts): two DLLs of the same
# name that no host can swap (CPack would call a mingw-w64 build win32).
set(CPACK_PACKAGE_NAME sapp)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sapp session-application module, its stand-in host libraries and sapp-host")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64-${SAPP_ABI})
  endif()
else()
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
