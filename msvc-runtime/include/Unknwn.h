// <Unknwn.h> as MSVC's sources spell it: Wine's <unknwn.h>.
#pragma once
#include <unknwn.h>
