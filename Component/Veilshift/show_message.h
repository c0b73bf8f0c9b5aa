#pragma once

namespace veilshift {

// "Effect number [ n ] is not implemented", in Shift-JIS as the message box shows it.
inline constexpr char kUnimplementedEffectFormat[] =
    "\x81\x79 %d \x81\x7a\x94\xd4\x82\xcc\x83\x47\x83\x74\x83\x46\x83\x4e\x83\x67\x82\xcd"
    "\x8e\xc0\x91\x95\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1";
inline constexpr char kMessageCaption[] = "Veilshift.dll";

// Formats into the module's 1,024-byte message buffer and shows it; blocks until
// the box is closed. Always false, for the caller to return.
bool ShowMessage(const char* format, ...);

}  // namespace veilshift
