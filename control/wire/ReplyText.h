// Text helpers for what the server sends: message wrapping and file names.
// Qt-free so the fuzz build can compile them.
#pragma once

#include <optional>
#include <string_view>

#include "core/AnsiString.h"

// Breaks a server message into lines of 18 bytes joined by CR LF: at most
// three lines, the third unbounded. A double-byte character is never cut:
// when a break would fall after its lead byte the line ends one byte earlier.
AnsiString WrapMessageText(std::string_view text);

// True when bytes i and i+1 form one double-byte character.
bool IsDbcsPair(std::string_view s, size_t i);
// Where the last path component begins (after the last '\\' or '/').
size_t LastComponentStart(std::string_view name);

// A file name from the server reduced to its last path component (split on
// both '\' and '/'); nullopt for empty, "." and "..".
std::optional<AnsiString> ServerFileName(std::string_view name);

// The server's file name as a local UTF-8 name safe to join to a folder, checked
// again after conversion: a cut double-byte character is dropped, which can leave
// "" or "..". nullopt when nothing safe remains.
std::optional<std::string> LocalFileName(std::string_view name);
