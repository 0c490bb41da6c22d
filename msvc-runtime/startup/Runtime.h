// What the entry points (DllStartup.cc, ExeStartup.cc) call in Runtime.cc.
#pragma once

namespace sapp_runtime {

// Sets up atexit: a table of the module's own for a DLL, ucrtbase's for an
// EXE. Called first, before the cookie and the initialisers.
void initializeModule(bool dll);

// Runs the C initialisers, then the C++ ones (static constructors). False
// when a C initialiser failed.
bool runInitializers();

// A DLL's shut-down: its atexit table (static destructors), then the type
// names vcruntime140 cached for it.
void runModuleExitTable();

}  // namespace sapp_runtime
