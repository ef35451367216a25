#pragma once
// Shared by the attachment end-to-end tests: a stand-in for the document form that holds
// the attachment list, and a raw request to the server as another client would send it.
#include <QDialog>
#include <optional>
#include <string>

#include "control/ReplyWindows.h"
#include "control/AttachmentList.h"
#include "core/Streams.h"
#include "tests/apps/RawClient.h"

namespace e2e {

// Stands in for the document form, which is built elsewhere: it holds the attachment
// list and is what the replies for attachments and the body are addressed to.
class DocumentFormStandIn : public QDialog, public ITemplateForm {
  Q_OBJECT
 public:
  DocumentFormStandIn() { list = new TAttachmentList(this); }
  QWidget* AsWidget() override { return this; }
  bool NewDoc() const override { return false; }
  void SetNewDoc(bool) override {}
  bool Submitted() const override { return false; }
  void SetSubmitted(bool) override {}
  bool CloseOnReply() const override { return false; }
  void SetCloseOnReply(bool) override {}
  bool ManagerRequested() const override { return managerRequested; }
  void SetManagerRequested(bool v) override { managerRequested = v; }
  void LoadFromStream(TMemoryStream&) override { exec(); }
  void LoadAttachments(TMemoryStream& reply) override { list->LoadAttachments(reply); }
  void RefreshFromContainer(const std::string& c, int n) override { list->RefreshFromContainer(c, n); }
  void ShowUserSelection(TMemoryStream&) override {}
  void ShowNumberList(TMemoryStream&) override {}
  void ShowUnitSelection(TMemoryStream&) override {}
  void CloseForm() override { close(); }
  void SetCellPicker(bool) override {}
  void LoadSheet(TStream&) override {}
  void AdjustLayout() override {}
  void FitFormToGrid() override {}
  int ShowModal() override { return exec(); }
  AnsiString CurrentCellText() const override { return ""; }

  TAttachmentList* list;
  bool managerRequested = false;
};

// One request straight to the server, as another client would ask.
inline std::string Ask(uint16_t port, const std::string& frame) {
  RawClient c(port, 10000);
  std::string wire = frame.substr(0, 5);
  uint32_t n = static_cast<uint32_t>(frame.size());
  for (int i = 0; i < 4; ++i) wire += char((n >> (8 * i)) & 0xFF);
  c.Send(wire + frame);
  std::optional<std::string> reply = c.ReadToClose();
  return reply && reply->size() >= 4 ? reply->substr(4) : std::string();
}

}  // namespace e2e
