#pragma once
// The server's store: units, departments and users; workflow definitions with their step
// records and charts; form templates with their sheets; documents with their field values,
// handlers, passed steps, comments, attachments and body. All text is kept as UTF-8, so the
// file reads as text; the server works in code page 936 and converts at this edge, and what
// it stored goes back exactly as it came. Sheets, charts, bodies, attachment containers and
// workflow records are kept as blobs. Every write is one transaction: a write that fails
// part way changes nothing.
#include <optional>
#include <string>
#include <vector>

#include "apps/oa-server/OaSampleData.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Frames.h"

struct sqlite3;

namespace oa {

struct StoredDocument {
  AnsiString recordId;
  AnsiString tableName;
  AnsiString templateName;
  int workflowId = 0;
  int currentStep = 0;
  int nextStep = -1;
  int status = 0;
  AnsiString authorId;
  AnsiString authorName;
  int numberType = -1;
  int number = 0;
  AnsiString numberPrefix;
  AnsiString opinion;
  AnsiString state = "open";  // "open", "archived", "destroyed"
  std::vector<TFieldRecord> values;  // joined: one per field name
  std::vector<frames::PickedUser> handlers;  // as the last save picked them for the next step
  std::vector<TPassedStep> passed;
  // Who handles the current step, as picked when the document came to it; empty: the
  // step's own handlers.
  std::vector<AnsiString> stepHandlers;
};

}  // namespace oa

class OaDatabase {
 public:
  OaDatabase() = default;
  ~OaDatabase();
  OaDatabase(const OaDatabase&) = delete;
  OaDatabase& operator=(const OaDatabase&) = delete;

  // Opens (creating when absent) the database file; an empty database gets the sample
  // data. ":memory:" gives a private sample database. A file written by an older server
  // is converted to the present layout; one written by a newer server is refused. Throws
  // Exception with the reason (SQLite's message) on failure, and holds no file then.
  void Open(const std::string& path);

  // The login reply of the user with exactly this login name; nullopt for an unknown name.
  std::optional<frames::LoginReply> FindUserByLogin(const AnsiString& loginName) const;
  int UserCount() const;
  // Users of one unit (0: every unit), in login-name order.
  std::vector<frames::UserRecord> Users(int unitId) const;
  std::optional<frames::UserRecord> UserById(const AnsiString& userId) const;
  std::vector<frames::UnitRecord> Units() const;
  std::vector<frames::NumberEntry> NumberKinds(int unitId) const;
  std::vector<TOpinionPhrase> Phrases() const;

  std::optional<TFlowMessage> FindWorkflow(int id) const;
  // Replaces the workflow's header, steps and chart; steps marked deleted are dropped and
  // new steps (id -1) get the next free numbers. Returns the stored definition.
  TFlowMessage SaveWorkflow(const TFlowMessage& m);

  // By the template's name, its form file name or the table its documents are kept in.
  std::optional<oa::SampleTemplate> FindTemplate(const AnsiString& name) const;

  std::optional<oa::StoredDocument> FindDocument(const AnsiString& recordId) const;
  // Keeps the document as it is, without counting a save (a draft handed out).
  void SaveDocument(const oa::StoredDocument& d);
  // A save made from that copy: keeps the document and its fields as its next revision,
  // which it returns; the copy is at that revision from then on, showing `seen`.
  int SaveRevision(const oa::StoredDocument& d, int64_t copyId, const std::vector<TFieldRecord>& seen);
  // A copy of the document handed out now to userId, at its present revision; its number.
  // Each user keeps his latest few copies of a document.
  int64_t NewCopy(const AnsiString& recordId, const AnsiString& userId);
  // The attachment list handed out to userId to change, as `seen` describes it; its number.
  int64_t NewAttachmentCopy(const AnsiString& recordId, const AnsiString& userId, const std::string& seen);
  // What that copy of the list has seen; nullopt for a copy of another document or one forgotten.
  std::optional<std::string> AttachmentCopy(int64_t copyId, const AnsiString& recordId) const;
  // Keeps the list an upload from that copy leaves; the copy has seen `seen` from then on.
  void SaveAttachmentsFrom(const AnsiString& recordId, const std::string& container, int64_t copyId,
                           const std::string& seen);
  // The revision the copy holds; nullopt for a copy of another document or one forgotten.
  std::optional<int> CopyRevision(int64_t copyId, const AnsiString& recordId) const;
  // The fields as that copy shows them: as handed out, or as it last saved them.
  std::optional<std::vector<TFieldRecord>> CopyFields(int64_t copyId, const AnsiString& recordId) const;
  // 0 until the document's first save, one more with every save.
  int Revision(const AnsiString& recordId) const;
  // The fields as that revision left them; nullopt when it is no longer kept.
  std::optional<std::vector<TFieldRecord>> FieldsAt(const AnsiString& recordId, int revision) const;
  // Another document of that number kind that holds the number.
  bool NumberHeldByOther(int numberType, int number, const AnsiString& recordId) const;
  // The user's drafts never saved and holding nothing (no attachment, body or comment),
  // oldest first.
  std::vector<AnsiString> UnsavedDrafts(const AnsiString& authorId) const;
  // Removes a draft never saved; its attachments and body stay as earlier versions.
  void DropDraft(const AnsiString& recordId);
  // Every open document (drafts included) that follows the workflow.
  std::vector<oa::StoredDocument> OpenDocuments(int workflowId) const;
  // Changes the document's state ("archived", "destroyed"); false for an unknown document.
  bool SetDocumentState(const AnsiString& recordId, const AnsiString& state);
  // Archives the document and remembers who did it and when: the form saves its changed
  // fields just after (the save that follows an archive). Any later save of the document
  // forgets it.
  // `copy`: the archiving window's copy (low 24 bits), the one whose save follows.
  void ArchiveDocument(const AnsiString& recordId, const AnsiString& userId, double at, int32_t copy);
  struct ArchiveSave {
    AnsiString userId;
    double at = 0;  // days since 1899-12-30
    int32_t copy = 0;
  };
  std::optional<ArchiveSave> PendingArchiveSave(const AnsiString& recordId) const;

  std::vector<frames::CommentRecord> Comments(const AnsiString& recordId) const;
  void AddComment(const AnsiString& recordId, const frames::CommentRecord& c);
  // The stored attachment container; empty when there is none.
  std::string Attachments(const AnsiString& recordId) const;
  void SaveAttachments(const AnsiString& recordId, const std::string& container);
  std::optional<std::string> Body(const AnsiString& recordId) const;
  void SaveBody(const AnsiString& recordId, const std::string& body);
  // Earlier versions of attachment lists ("attachments"), Word bodies ("body") and
  // workflow definitions ("workflow"), kept whenever one is replaced or removed.
  struct Version {
    int64_t id = 0;
    std::string kind;
    AnsiString key;  // the record ID, or the workflow's number
    double at = 0;   // days since 1899-12-30
    size_t size = 0;
  };
  std::vector<Version> Versions() const;
  // The kept content; nullopt for an unknown id.
  std::optional<std::pair<Version, std::string>> VersionContent(int64_t id) const;
  // Records who a document went to: "FEFA", "FEFB" (users) or "OTFF" (units).
  void RecordDistribution(const AnsiString& recordId, const AnsiString& kind,
                          const std::vector<AnsiString>& targets);
  // Every target recorded for the document under that kind, in the order recorded.
  std::vector<AnsiString> DistributionTargets(const AnsiString& recordId, const AnsiString& kind) const;

 private:
  class Transaction;
  void Exec(const char* sql) const;
  int Layout() const;
  // Creates the tables, bringing a file of an older layout up to date first; refuses one
  // of a newer layout.
  void CreateSchema(const std::string& path);
  void WriteDocument(const oa::StoredDocument& d);
  void WriteAttachments(const AnsiString& recordId, const std::string& container);
  void AddColumn(const char* table, const char* column, const char* type);
  // Keeps what is stored under kind/key before it is replaced, unless it is what replaces it.
  void KeepVersion(const char* kind, const AnsiString& key, const std::optional<std::string>& old,
                   const std::string& replacement);
  void MoveTextToUtf8();
  void FillSampleData();

  static constexpr int kKeptRevisions = 64;
  static constexpr int kKeptCopies = 16;  // per user and document
  static constexpr int kKeptVersions = 32;
  sqlite3* db_ = nullptr;
};
