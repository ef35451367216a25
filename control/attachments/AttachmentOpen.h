// What the attachment manager and the document form's attachment list share: how an
// attachment is opened by its extension, its time-stamped temporary copy, its icon, and
// saving a copy where the user chooses.
#pragma once

#include <QIcon>
#include <optional>
#include <string>
#include <string_view>

#include "core/AnsiString.h"

class QWidget;
class TCopy2Files;

// The longest file name (one path component) the file system takes, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// The private temp folder + the current time as "yyyymmddhhnnsszzz" + the name's last path
// component (UTF-8), its stem shortened when the whole would pass kMaxFileNameBytes; empty
// when the name is unusable ("", ".", "..").
std::string TimeStampedCopyPath(const AnsiString& name);

// Opens an attachment by its lower-cased extension: office files in the preview
// (read-only) or the Word editor, ".htm" from memory in the HTML viewer, web pages,
// pictures, text and PDF from a time-stamped copy in the HTML viewer, anything else from a
// time-stamped copy with the desktop's program. Returns the editor's saved bytes when
// the attachment was edited and saved.
std::optional<std::string> OpenAttachmentData(QWidget* owner, const AnsiString& name,
                                              std::string_view data, bool readOnly);

// The icon shown for a file name, by its extension (no file is read).
QIcon AttachmentIcon(const AnsiString& name);

// Asks where to save file i of the container and writes it there. The messages name the
// selection missing when i is -1.
void SaveAttachmentAs(QWidget* owner, const TCopy2Files& files, int i);
