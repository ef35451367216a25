// Private temporary files: what the server sends is written for this user only.
#pragma once

#include <string>
#include <string_view>

// The temp directory (UTF-8) with its trailing '/'.
std::string GetTempDirectory();

// Creates or replaces the file with mode 0600, never following a link planted
// at that path. Raises EFCreateError when it cannot be written.
void WritePrivateFile(const std::string& path, std::string_view bytes);
