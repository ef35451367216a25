#include "control/DocDistribution.h"

#include <QPointer>

#include "control/frm_FenFa.h"
#include "control/frm_SelFenFa.h"
#include "control/frm_SelectUnit.h"

TDistributionRoute RouteByType(int32_t distributionType) {
  if (distributionType == 1) return TDistributionRoute::Internal;
  if (distributionType == 2) return TDistributionRoute::Outside;
  return TDistributionRoute::Ask;
}

std::optional<std::string> BuildUserDistribution(const TFrmFenFa& dialog, std::string_view tableName,
                                                 std::string_view recordId, std::string_view userId) {
  std::vector<frames::DistributionItem> items;
  for (const TUserNode* node : dialog.treSelectedUser()->Roots())
    items.push_back({node->Data().key, node->ImageIndex() == niMarked});
  if (items.empty()) return std::nullopt;
  return frames::BuildDistributionRequest(dialog.RecallMode() ? "FEFB" : "FEFA", tableName, recordId, userId, items);
}

TDistribution::TDistribution() : RunModal([](QWidget& w) { return static_cast<QDialog&>(w).exec(); }) {}

void TDistribution::Start(int32_t distributionType, QWidget* parent) {
  TfrmSelFenFa choice(parent);
  if (SaveForDistribution && SaveForDistribution() && Pump) Pump(400);
  TDistributionRoute route = RouteByType(distributionType);
  if (route == TDistributionRoute::Ask) {
    choice.Setup(distributed_, sentOutside_);
    if (RunModal(choice) != QDialog::Accepted) return;
    route = choice.ChoiceFlag() == TfrmSelFenFa::ChoiceInternal ? TDistributionRoute::Internal
                                                                 : TDistributionRoute::Outside;
  }
  if (route == TDistributionRoute::Internal) {
    if (RequestUsers) RequestUsers(0);
  } else if (RequestUnits) {
    RequestUnits();
  }
}

void TDistribution::UsersArrived(std::string_view reply, std::string_view tableName, std::string_view recordId,
                                 std::string_view userId, QWidget* parent) {
  if (DeliverUserPage(reply)) return;
  TFrmFenFa dialog(parent);
  dialog.LoadUsers(reply, {}, true);
  dialog.OnRequestList = RequestUsers;
  if (RunModal(dialog) != QDialog::Accepted) return;
  distributed_ = true;
  if (auto frame = BuildUserDistribution(dialog, tableName, recordId, userId); frame && Send) Send(std::move(*frame));
}

void TDistribution::UnitsArrived(std::string_view reply, std::string_view recordId, std::string_view tableName,
                                 QWidget* parent) {
  TfrmSelectUnit dialog(parent);
  dialog.LoadUnits(reply);
  if (RunModal(dialog) != QDialog::Accepted) return;
  sentOutside_ = true;
  if (Send) Send(frames::BuildOutsideDistributionRequest(recordId, tableName, dialog.ChosenUnits()));
}
