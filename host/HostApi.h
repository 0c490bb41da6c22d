// Import/export decoration for the host libraries' public symbols.
//
// The module links to two host libraries: the protocol library (pktcore) and
// the base library (tarnbase). Their headers decorate every exported function
// and class with PKTCORE_API / TARNBASE_API. The library itself is built with
// PKTCORE_BUILD / TARNBASE_BUILD defined; everybody else imports.
#pragma once

#if defined(_WIN32)
#  if defined(PKTCORE_BUILD)
#    define PKTCORE_API __declspec(dllexport)
#  else
#    define PKTCORE_API __declspec(dllimport)
#  endif
#  if defined(TARNBASE_BUILD)
#    define TARNBASE_API __declspec(dllexport)
#  else
#    define TARNBASE_API __declspec(dllimport)
#  endif
#else
#  define PKTCORE_API __attribute__((visibility("default")))
#  define TARNBASE_API __attribute__((visibility("default")))
#endif
