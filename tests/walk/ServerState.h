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
  bool atFilingStep = false;   // the step offers 编号, 分发 or 归档
  bool destroyed = false;      // the person had it destroyed (销毁)
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

namespace walk {

// The sign-off comments of a record, in their order: their texts, UTF-8.
std::vector<std::string> ReadComments(const std::string& dbPath, const std::string& recordId);

// A workflow as stored: its name and its steps, texts in UTF-8.
struct StoredStep {
  std::string name, handlers, days, editableCells, opinionCell, nextSteps, previousSteps;
};
struct StoredFlow {
  int id = 0;
  std::string name;
  std::vector<StoredStep> steps;
};
std::vector<StoredFlow> ReadWorkflows(const std::string& dbPath);

// The Word body a record holds; nullopt when it has none of its own.
std::optional<std::string> ReadBody(const std::string& dbPath, const std::string& recordId);
// Every live attachment's bytes of a record.
std::vector<std::string> ReadAttachmentData(const std::string& dbPath, const std::string& recordId);
// The text of a .docx (its main part's text runs, in order, tags left out); nullopt when
// the bytes are no .docx this can read.
std::optional<std::string> DocxText(std::string_view docx);

// A list field's cell shows the text of the code the server holds: some list of some
// form pairs them so.
bool ListShows(const std::string& dbPath, const std::string& held, const std::string& shown);

// No form of the sample takes sign-off comments in its own window: the walk gives the
// forms that show none a box to write one in (those that show them read-only keep it
// so), before anyone opens them.
void OpenSignOffReplies(const std::string& dbPath);

}  // namespace walk
