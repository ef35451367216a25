// Temporary copies (attachments, the body document, the Word editor's and the scan
// form's files) live in one folder per user that no one else can enter or plant names
// in: "tarvo-<uid>" under $XDG_RUNTIME_DIR when that is the user's own private folder,
// otherwise under $TMPDIR (or /tmp). The folder is created with mode 0700 and checked
// on every use, through a handle that does not follow links: it must be a real folder
// owned by the user; one of the user's own that others could enter is made private
// again; anything else (a link, another user's folder) is refused with EFCreateError
// and nothing is written. Paths are UTF-8.
//
// Inside it, each running program keeps its copies in a folder of its own, named by its
// process ("p<pid>-<start time>"), so that two programs of one user never overwrite or
// remove each other's copies under the same names. The first use in a program removes
// the folders of programs that no longer run.
#pragma once

#include <string>
#include <string_view>

// The user's folder, with its trailing '/'.
std::string UserTempFolder();

// This program's folder inside the user's, made private and checked like it, with its
// trailing '/'. Every path below is in it.
std::string PrivateTempFolder();

// One plain path component: not "", "." or "..", no '/'.
bool IsPlainFileName(std::string_view name);

// A fresh folder in the user's folder (its random name keeps it apart; a socket's path
// inside it stays short), named prefix + six random characters, mode 0700;
// its path without a trailing '/'. Raises EFCreateError when it cannot be made.
std::string MakePrivateTempDir(std::string_view prefix);

// The folder + name, with whatever stood at that name removed (a link is removed, never
// followed), so that the next writer creates the file anew. The name must be one plain
// path component ("", ".", ".." and names with '/' raise EFCreateError).
std::string PrivateTempPath(std::string_view name);

// Creates the file anew (an existing file or link at the path is removed first, never
// followed) with mode 0600 and writes the bytes. Raises EFCreateError when it cannot.
void WritePrivateFile(const std::string& path, std::string_view bytes);
