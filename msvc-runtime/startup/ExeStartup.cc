// A console program's entry point, as MSVC's static runtime provides it
// (mainCRTStartup, lld-link's default entry when main is defined): the /GS
// cookie, the command line and environment from ucrtbase, the static
// constructors, then exit(main(...)), which runs the atexit handlers and
// static destructors.
#include <corecrt_startup.h>
#include <stdlib.h>

#include "msvc-runtime/startup/Runtime.h"

extern "C" void __cdecl __security_init_cookie(void);

int main(int argc, char** argv, char** envp);

extern "C" int __cdecl mainCRTStartup() {
    sapp_runtime::initializeModule(false);
    __security_init_cookie();
    _set_app_type(_crt_console_app);
    _configure_narrow_argv(_crt_argv_unexpanded_arguments);
    _initialize_narrow_environment();
    if (!sapp_runtime::runInitializers()) {
        exit(255);
    }
    exit(main(*__p___argc(), *__p___argv(), _get_initial_narrow_environment()));
}
