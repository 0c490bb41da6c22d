// The module's one export macro: only what carries it leaves the shared
// library; everything else is built with hidden visibility.
#pragma once

#if defined(_WIN32)
#  define SAPP_API __declspec(dllexport)
#else
#  define SAPP_API __attribute__((visibility("default")))
#endif
