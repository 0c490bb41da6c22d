// Import/export decoration for the host libraries' public symbols.
//
// The module links to two host libraries: the protocol library (pktcore) and
// the base library (tarnbase). The library itself is built with
// PKTCORE_BUILD / TARNBASE_BUILD defined; everybody else imports.
//
// PKTCORE_API / TARNBASE_API decorate what lives in the library alone: free
// functions and classes whose members are all defined there.
//
// pktcore's value classes (ProtoUInfo, ProtoHelper, ProtoA2U, ProtoTime,
// ProtoPacketPool) also come with members defined in their declaration (the
// copy and move operations, ProtoUInfo's destructor). Those belong to every
// binary that includes the declaration, so they must never be imported, and
// the module exports its own copies as part of its interface. These classes
// are decorated member by member:
//
//   PKTCORE_CLASS   on the class: pktcore exports the whole class (also its
//                   virtual table and type information, which the Itanium
//                   C++ ABI places with the library that defines the first
//                   out-of-line virtual function); elsewhere only the
//                   symbol visibility of an ELF build.
//   PKTCORE_MEMBER  on a member pktcore defines: imported (nothing inside
//                   pktcore, where the class attribute covers it).
//   PKTCORE_INLINE  on a member the header defines: exported by pktcore
//                   (through the class) and by the module (SAPP_BUILD);
//                   a plain inline function everywhere else. On ELF the
//                   member is also marked `used`, so that the library emits
//                   it even where it never calls it.
//
// MSVC refuses a dllimport or dllexport member inside a dllexport class, so
// each macro is empty where the class attribute already exports.
#pragma once

#if defined(_WIN32)
#  if defined(PKTCORE_BUILD)
#    define PKTCORE_API __declspec(dllexport)
#    define PKTCORE_CLASS __declspec(dllexport)
#    define PKTCORE_MEMBER
#    define PKTCORE_INLINE
#  else
#    define PKTCORE_API __declspec(dllimport)
#    define PKTCORE_CLASS
#    define PKTCORE_MEMBER __declspec(dllimport)
#    if defined(SAPP_BUILD)
#      define PKTCORE_INLINE __declspec(dllexport)
#    else
#      define PKTCORE_INLINE
#    endif
#  endif
#  if defined(TARNBASE_BUILD)
#    define TARNBASE_API __declspec(dllexport)
#  else
#    define TARNBASE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define PKTCORE_API __attribute__((visibility("default")))
#  define PKTCORE_CLASS __attribute__((visibility("default")))
#  define PKTCORE_MEMBER
#  if defined(PKTCORE_BUILD) || defined(SAPP_BUILD)
#    define PKTCORE_INLINE __attribute__((visibility("default"), used))
#  else
#    define PKTCORE_INLINE
#  endif
#  define TARNBASE_API __attribute__((visibility("default")))
#else
#  define PKTCORE_API
#  define PKTCORE_CLASS
#  define PKTCORE_MEMBER
#  define PKTCORE_INLINE
#  define TARNBASE_API
#endif
