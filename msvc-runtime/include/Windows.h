// <Windows.h> as MSVC's sources spell it; the header is Wine's <windows.h>
// (windows.h here adds what Wine 8's SDK lacks).
#pragma once
#include <windows.h>
