#pragma once
// The control as a page holds it, against its own oa-server: the control sets up its
// windows and its reply dispatcher itself; the test only calls the page's methods and
// looks at what the server received and stores.
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ControlFactory.h"
#include "apps/oa-server/OaDatabase.h"
#include "E2eSupport.h"
#include "control/wire/Frames.h"
#include "core/ByteIO.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "tests/apps/RawClient.h"

namespace e2e {

// One request straight to the server, as another client would ask.
inline std::string Ask(uint16_t port, const std::string& frame) {
  RawClient c(port, 10000);
  std::string wire = frame.substr(0, 5) + std::string(4, '\0');
  StoreLE(wire.data() + 5, static_cast<uint32_t>(frame.size()));
  c.Send(wire + frame);
  const std::optional<std::string> reply = c.ReadToClose();
  return reply && reply->size() >= 4 ? reply->substr(4) : std::string();
}

// A field's stored value, "<none>" when the document holds no such field.
inline AnsiString StoredValue(const oa::StoredDocument& d, const char* field) {
  for (const TFieldRecord& v : d.values)
    if (v.name == Cp936(field)) return v.value;
  return "<none>";
}

}  // namespace e2e

class PageSession {
 public:
  // Creates the control on the page, waits for OnDoLogin and points it at the server.
  bool Start() {
    if (!server.Started()) return false;
    control_ = CreateControlForPage(&page);
    if (!control_) return false;
    driver = std::make_unique<PageDriver>(control_);
    page.show();
    return driver->WaitForEvent("OnDoLogin", 1, 10000) &&
           driver->Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}) == S_OK;
  }

  // Logs in as loginName and waits until the control says so.
  bool Login(const char* loginName) {
    const size_t before = driver->CountEvents("OnAfterLogin");
    return driver->Call("Login", {loginName}) == S_OK && driver->WaitForEvent("OnAfterLogin", before + 1, 10000) &&
           !SessionValues().UserGUID.empty();
  }

  // Asks for a document as a page does; its reply opens the document form.
  bool Open(const char* templateName, const char* recordId) {
    return driver->Call("GetStream", {"oa", recordId, "0", templateName, "1", "", ""}) == S_OK;
  }

  // The frames of one code the server received, in order (those small enough to be
  // logged whole).
  std::vector<std::string> Received(const std::string& code) const {
    std::vector<std::string> out;
    for (const std::string& line : server.LogLines())
      if (const std::optional<LoggedFrame> f = ParseLogLine(line); f && f->code == code) out.push_back(f->frame);
    return out;
  }

  std::string Ask(const std::string& frame) const { return e2e::Ask(server.Port(), frame); }

  // The stored document as the server keeps it, read from its database.
  std::optional<oa::StoredDocument> Stored(const std::string& id) const {
    OaDatabase db;
    db.Open(server.DatabasePath());
    return db.FindDocument(id);
  }

  // Requests of one code the server received (large ones are logged by their head only).
  size_t Count(const char* code) const { return server.Count(code); }

  // The document's attachments as the server lists them.
  TCopy2Files Attachments(const AnsiString& tableName, const AnsiString& recordId) const {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.tableName = tableName;
    q.recordId = recordId;
    q.commandFlag = 1;
    const std::string reply = Ask(frames::BuildQueryRequest(q));
    const frames::AttachmentsReply list = frames::ParseAttachmentsReply(reply);
    TCopy2Files files;
    if (!list.container.empty()) files.LoadFromBytes(list.container);
    return files;
  }

  OaServerProcess server;
  QWidget page;

 private:
  ComPtr<IDispatch> control_;

 public:
  std::unique_ptr<PageDriver> driver;  // goes before the control it holds
};
