#pragma once
// Reading and writing the small per-user files kept by this layer (the registry, the
// locale settings): size-capped reads and crash-safe replacement.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ConfigFileText {
  enum Status { Read, Missing, NotRegular, TooLarge, Unreadable };
  Status status = Missing;
  std::string text;
  std::string error;  // why an unreadable file could not be read; may be empty
};

// The whole file, refused before reading when larger than maxSize. A path that cannot
// be looked at counts as missing.
ConfigFileText ReadConfigFile(const std::string& path, std::uintmax_t maxSize);

// Lines as std::getline gives them: split at '\n', no empty line after a final '\n'.
std::vector<std::string> SplitLines(std::string_view text);

// Writes the whole file through the one whole-file writer (core/SaveFile): a crash leaves
// either the old or the new file, a replaced file keeps its mode and a link at the path
// stays a link to the file it names; the folder is created when missing.
// Returns 0, or the errno of the step that failed (the temporary file is removed).
int WriteConfigFileAtomically(const std::string& path, std::string_view text);

// Creates the folder that is to hold path; a failure shows when the file is opened.
void CreateParentFolder(const std::string& path);
