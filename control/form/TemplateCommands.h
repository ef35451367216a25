// The document form's commands and the requests they send: submit, temporary save,
// archive and destroy, the next handler, the opinion phrases, numbering, distribution,
// the sign-off comments and printing; and the list replies those requests bring back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/AnsiString.h"

class TMemoryStream;
class TfrmTemplate;
struct TTakenNumber;

class TTemplateCommands {
 public:
  explicit TTemplateCommands(TfrmTemplate& form) : form_(form) {}

  void btnSendClick();
  void btnTemporaryClick();
  void btnFileClick();
  void N_DeleteXLGridClick();
  void N_PrintXLGridClick();
  void btnNextUserClick();
  void btnSPClick();
  void nSignNameClick();
  void N1Click(const AnsiString& phrase);
  void N9Click();
  void btnNOClick();
  void btnDistributionClick();
  void BtnQPYJClick();

  void SendFrame(const std::string& frame);
  void RequestUsers(uint8_t mode, int32_t list);
  void RequestFile(const AnsiString& name);
  void ShowUserSelection(TMemoryStream& reply);
  void ShowNumberList(TMemoryStream& reply);
  void ShowUnitSelection(TMemoryStream& reply);
  // "确定" on the number panel: the number field and the header take the number.
  void NumberTaken(const TTakenNumber& taken);
  void SetupCommentFrame();

 private:
  // Sends the "DCMD" command; the form closes once the server has accepted it (accepted
  // runs first). Until then the form stays as it is; a command that ends without being
  // accepted leaves it open.
  void SendDocCommand(const char* verb, std::function<void()> accepted);

  TfrmTemplate& form_;
};
