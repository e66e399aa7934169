#pragma once
// <windows.h> as the Windows backend includes it: lean, without the min/max macros, and without
// its ReplaceFile macro, which would rename the game's own ReplaceFile.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#undef ReplaceFile
