#pragma once
// Which characters the user's terminal can take, from the user's locale.

#include "platform/vt/frame_encoder.h"

namespace posix {

// Whether the user's locale takes UTF-8, and with it the terminal. A terminal of another character
// set reads some bytes from 128 up as controls, so it is sent none. The game's own locale stays
// "C", in which toupper changes only a..z.
Glyphs GlyphsOfTheLocale();

}  // namespace posix
