#pragma once
// Text that travels (frames, streams, files) stays as code page 936 bytes so it goes back
// to the server byte for byte; it becomes UTF-8/QString only where a person sees it.
#include <cstdint>
#include <string>
#include <string_view>

using AnsiString = std::string;

// A trailing half of a double-byte character (frames cut text at a byte count) is dropped;
// any other undecodable byte becomes U+FFFD.
std::string Cp936ToUtf8(std::string_view cp936);
// Characters that code page 936 cannot hold become '?'.
AnsiString Utf8ToCp936(std::string_view utf8);
// Shorthand for Chinese literals in UTF-8 sources that the system sends or stores.
inline AnsiString Cp936(const char* utf8) { return Utf8ToCp936(utf8); }

inline bool IsDbcsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// Only ASCII letters change; the trail byte of a double-byte character is never touched,
// since trail bytes include the ASCII letter range.
AnsiString AnsiUpperCase(std::string_view s);
AnsiString AnsiLowerCase(std::string_view s);

// Length of the longest prefix of at most maxBytes bytes that does not end inside a
// double-byte character.
size_t Cp936SafeCut(std::string_view s, size_t maxBytes);
