#pragma once
// What the server answers to each request frame, and the line it logs for it.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "apps/oa-server/OaDatabase.h"

namespace oa {

// The answer to a query for a document this server does not hold.
AnsiString DocumentNotFoundText();

// Texts of the server messages that answer stored requests.
AnsiString SubmittedText();        // "UPDA" with status 1, and a "SENDFIAG" command
AnsiString SavedText();            // "UPDA" with status 0
AnsiString ArchivedText();         // "DCMD" INBOX
AnsiString DestroyedText();        // "DCMD" DELETE
AnsiString AttachmentsSavedText();  // "SABB"
AnsiString DistributedText();      // "FEFA"
AnsiString RecalledText();         // "FEFB"
AnsiString SentOutsideText();      // "OTFF"
AnsiString SignedOffText();        // "QIAN"
AnsiString FlowSavedText();        // "FLOW"

// "CODE LENGTH HEX": the code's four letters (bytes that are not printable ASCII become
// '?'), the frame length in decimal and the frame in lower-case hex.
std::string FormatLogLine(std::string_view code5, std::string_view frame);

class OaService {
 public:
  explicit OaService(OaDatabase& db) : db_(db) {}
  // The reply payload (starting with its code). Throws frames::EFrameError for a malformed
  // frame or a code this server does not know; nothing is stored then. Requests that are
  // well formed but cannot be done are answered with a "|" server message.
  std::optional<std::string> Reply(std::string_view frame) const;

  // Puts a kept earlier version back; what it replaces is kept in turn. Throws Exception
  // (its text UTF-8) when it cannot.
  void Restore(int64_t versionId) const;

  // Days since 1899-12-30 for comment dates; the wall clock unless replaced.
  std::function<double()> Now;

 private:
  std::optional<std::string> Dispatch(std::string_view frame) const;
  std::string Query(std::string_view frame) const;
  std::string Update(std::string_view frame) const;
  std::string Upload(std::string_view frame) const;
  std::string UserList(std::string_view frame) const;
  std::string Distribute(std::string_view frame) const;
  std::string Outside(std::string_view frame) const;
  std::string Command(std::string_view frame) const;
  std::string SignOff(std::string_view frame) const;
  std::string Flow(std::string_view frame) const;
  std::string SaveFlow(std::string_view frame) const;
 public:
  // Why a workflow definition may not replace the stored one (UTF-8); null when it may.
  const char* FlowRefused(const TFlowMessage& m) const;

 private:
  std::string File(std::string_view frame) const;
  std::string Sheet(std::string_view frame) const;
  double Today() const;
  std::optional<frames::UserRecord> UserOf(const AnsiString& userId) const;
  bool KnownUser(const AnsiString& userId) const;
  // A stored document with its workflow.
  struct Held {
    StoredDocument doc;
    TFlowMessage wf;
  };
  std::optional<Held> Find(const AnsiString& recordId) const;
  // The answer refusing userId a change of the document; nullopt when he may make it.
  std::optional<std::string> ChangeRefused(const std::optional<Held>& held, const AnsiString& userId) const;
  // True for the form's save of its changed fields just after this user archived it.
  bool FollowsArchive(const StoredDocument& d, const AnsiString& userId, int32_t copyNumber) const;

  OaDatabase& db_;
};

}  // namespace oa
