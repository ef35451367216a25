// The windows that replies open, as the dispatcher sees them. Each window is
// written elsewhere and registers a factory here; until it does, the replies
// for it are dropped.
//
// Every window is a QWidget (AsWidget returns it) created with no owner; the
// dispatcher frees it, through deleteLater when it may still be inside its own
// modal loop further down the stack.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/AnsiString.h"
#include "core/Streams.h"

class QWidget;

// The document form; also used, as a separate instance, as the cell picker.
class ITemplateForm {
 public:
  virtual ~ITemplateForm() = default;
  virtual QWidget* AsWidget() = 0;

  virtual bool NewDoc() const = 0;
  virtual void SetNewDoc(bool v) = 0;
  virtual bool Submitted() const = 0;
  virtual void SetSubmitted(bool v) = 0;
  virtual bool CloseOnReply() const = 0;
  virtual void SetCloseOnReply(bool v) = 0;
  virtual bool ManagerRequested() const = 0;
  virtual void SetManagerRequested(bool v) = 0;

  // Loads a document reply and shows the form modally.
  virtual void LoadFromStream(TMemoryStream& reply) = 0;
  virtual void LoadAttachments(TMemoryStream& reply) = 0;
  // The attachment container as the attachment manager left it (empty: no files).
  virtual void RefreshFromContainer(const std::string& container, int slotCount) {}
  virtual void ShowUserSelection(TMemoryStream& reply) = 0;
  virtual void ShowNumberList(TMemoryStream& reply) = 0;
  virtual void ShowUnitSelection(TMemoryStream& reply) = 0;
  // Closes the form (ends its modal loop when it runs one).
  virtual void CloseForm() = 0;

  // Cell picker use: a form that fires nothing at the page when it closes.
  virtual void SetCellPicker(bool v) = 0;
  // Loads the sheet stream and clears the sheet's read-only state.
  virtual void LoadSheet(TStream& sheet) = 0;
  virtual void AdjustLayout() = 0;
  virtual void FitFormToGrid() = 0;
  virtual int ShowModal() = 0;
  virtual AnsiString CurrentCellText() const = 0;
  // Makes the first cell showing text (rows, then columns) the current cell; none: no move.
  virtual void GoToCellText(const AnsiString& text) {}
};

// The workflow editor.
class IChartEditor {
 public:
  virtual ~IChartEditor() = default;
  virtual QWidget* AsWidget() = 0;
  virtual void LoadFlow(TMemoryStream& reply) = 0;
  virtual int ShowModal() = 0;
  virtual void WriteUserList(TMemoryStream& reply) = 0;
  // 0 title field, 1 number field, 2 opinion cell, 3 editable cell.
  virtual int PickMode() const = 0;
  virtual void SetTitleFieldText(const AnsiString& text) = 0;
  virtual void SetNumberFieldText(const AnsiString& text) = 0;
  virtual void SetMsgFieldCell(const AnsiString& cell) = 0;
  virtual void AddEditCell(const AnsiString& cell) = 0;
  // The cell the current pick mode already holds, where the cell picker opens; empty: none.
  virtual AnsiString PickedCell() const { return {}; }
};

// The user picker as the workflow editor uses it, to choose a step's handlers.
class IUserPicker {
 public:
  virtual ~IUserPicker() = default;
  virtual QWidget* AsWidget() = 0;
  // Loads a "USER" reply's list.
  virtual void LoadUserList(TMemoryStream& reply) = 0;
  // The users already chosen (user ID and name), shown as chosen when the picker opens.
  virtual void SetChosenUsers(const std::vector<std::pair<AnsiString, AnsiString>>& users) {}
  // Where the picker asks for a further list page (its number) while it is open.
  virtual void SetListRequest(std::function<void(int list)> request) = 0;
  // 1 when the user pressed OK.
  virtual int ShowModal() = 0;
  // The chosen users as user ID and name, in the order chosen.
  virtual std::vector<std::pair<AnsiString, AnsiString>> PickedUsers() const = 0;
};

// The attachment manager.
class IAttachmentManager {
 public:
  virtual ~IAttachmentManager() = default;
  virtual QWidget* AsWidget() = 0;
  virtual void LoadFromReply(TMemoryStream& reply) = 0;
  virtual int ShowModal() = 0;
};

// The Word editor.
class IWordEditor {
 public:
  virtual ~IWordEditor() = default;
  virtual QWidget* AsWidget() = 0;
  virtual void OpenDocument(const std::string& path, bool revisions, bool fillPlaceholders) = 0;
  virtual int ShowModal() = 0;
  // The saved document, or null when the user saved nothing; owned by the editor.
  virtual TMemoryStream* GetResultStream() = 0;
  // Sends each saved document where it is kept; done(true) once it is there. True when
  // the editor uploads its saves itself (and keeps a change until it is kept); false
  // leaves the result to the caller.
  using Uploader = std::function<void(const std::string& bytes, std::function<void(bool kept)> done)>;
  virtual bool SetUploader(Uploader) { return false; }
};

struct TReplyWindowFactories {
  std::function<ITemplateForm*()> CreateTemplateForm;
  std::function<IChartEditor*()> CreateChartEditor;
  std::function<IAttachmentManager*()> CreateAttachmentManager;
  std::function<IWordEditor*()> CreateWordEditor;
  std::function<IUserPicker*()> CreateUserPicker;
};

// Filled in by the windows' own code at start-up (and by tests with fakes).
TReplyWindowFactories& ReplyWindowFactories();

// Where a "USER" reply goes first. The user dialog sets this when one is first made; it
// returns true when a dialog on screen took the reply as a further page of its lists.
using TUserPageSink = bool (*)(std::string_view reply);
TUserPageSink& UserPageSink();
