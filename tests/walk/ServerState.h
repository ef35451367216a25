#pragma once
// What oa-server holds for a document, read straight from its SQLite file (read-only,
// beside the running server), in the control's own terms: code page 936 text.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/AnsiString.h"

namespace walk {

struct StoredDocument {
  std::map<AnsiString, AnsiString> fields;    // name: value, split records joined
  std::map<AnsiString, int32_t> attachments;  // name: size, removed ones left out
  int32_t currentStep = 0;
  AnsiString currentStepName;  // the caption of that step in the document's workflow
};

struct DocumentRef {
  std::string recordId;
  std::string templateName;  // UTF-8
  std::vector<std::string> handlers;  // login names of its current step
  std::string author;                 // login name
};

// The document as stored; nullopt when the server holds no such document.
std::optional<StoredDocument> ReadDocument(const std::string& dbPath, const AnsiString& recordId);
// The attachments stored for a record (those of a document not saved yet too).
std::map<AnsiString, int32_t> ReadAttachments(const std::string& dbPath, const AnsiString& recordId);
// One stored attachment by its content.
struct StoredFile {
  AnsiString name;
  int32_t size = 0;
  std::string sha256;  // hex
};
// The live attachments of a record, same-named ones apart, in their order.
std::vector<StoredFile> ReadAttachmentFiles(const std::string& dbPath, const AnsiString& recordId);
// The SHA-256 of bytes, in hex.
std::string Sha256(std::string_view bytes);
// What no sequence of requests may leave behind: an open document at a step its
// workflow lacks, or moving on to one; a number given to two documents. One line each.
std::vector<std::string> ConsistencyProblems(const std::string& dbPath);
// Every document the server holds, with who may work on it now.
std::vector<DocumentRef> ListDocuments(const std::string& dbPath);

}  // namespace walk
