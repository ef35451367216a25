// The document form's attachment list: asking the server for it, showing what came back
// beside or below the sheet, and the two "附件" commands.
#pragma once

#include <cstdint>
#include <string>

class QWidget;
class TAttachmentList;
class TMemoryStream;
class TfrmTemplate;

class TTemplateAttachments {
 public:
  // The list goes on the form's scroll area (parent); hidden until it has files.
  TTemplateAttachments(TfrmTemplate& form, QWidget* parent);

  TAttachmentList* List() const { return list_; }
  int FileCount() const;

  // The "QUEY" naming the table; its reply reaches Load.
  void SendQuery(uint8_t readOnly) const;
  void Load(TMemoryStream& reply);
  void Refresh(const std::string& container, int slotCount);
  // "附件": the Word body when the document has one, else the attachment manager.
  void AttachmentClick();
  // "附件" of a read-only document: the attachment manager, read-only.
  void ReadonlyClick();

 private:
  TfrmTemplate& form_;
  TAttachmentList* list_ = nullptr;
};
