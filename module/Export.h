// The module's one export macro: only what carries it leaves the shared
// library; everything else is built with hidden visibility.
//
// The module is built with SAPP_BUILD defined and exports; a host that
// includes the interface headers imports (on Windows; an ELF host needs no
// decoration). A host that only loads the module at run time and calls it
// through getModule's interface pointer links nothing of it.
#pragma once

#if defined(_WIN32)
#  if defined(SAPP_BUILD)
#    define SAPP_API __declspec(dllexport)
#  else
#    define SAPP_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define SAPP_API __attribute__((visibility("default")))
#else
#  define SAPP_API
#endif
