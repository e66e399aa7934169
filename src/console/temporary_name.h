#pragma once
// The name of a temporary file the game writes beside one of its own before renaming it into
// place: "<path>.<eight hex digits>.tmp". Each platform's file layer brings a value that differs
// from one call and one process to the next; the finaliser of splitmix64 spreads every bit of it
// over the digits. The standard random generator is the game's own and is left alone.

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string TemporaryNameBeside(const std::string& path, std::uint64_t varying) {
  varying = (varying ^ (varying >> 30)) * 0xbf58476d1ce4e5b9u;
  varying = (varying ^ (varying >> 27)) * 0x94d049bb133111ebu;
  varying ^= varying >> 31;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(varying));
  return path + "." + digits + ".tmp";
}
