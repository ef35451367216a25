#include "control/form/DocDistribution.h"

#include <QPointer>
#include <memory>

#include "control/form/frm_FenFa.h"
#include "control/form/frm_SelFenFa.h"
#include "control/select/frm_SelectUnit.h"

namespace {

// Runs a dialog owned by `parent` and hands it back when it and its owner are still
// there. The owner may be freed inside the modal loop (a new document reply); Qt then
// frees the dialog with it, so the dialog is never also freed here.
template <class D>
std::unique_ptr<D> RunOwned(const std::function<int(QWidget&)>& run, D* dialog, QWidget* parent, int& result) {
  const QPointer<QWidget> owner(parent);
  const QPointer<D> alive(dialog);
  result = run(*dialog);
  if (!alive) return nullptr;
  std::unique_ptr<D> kept(alive.data());
  if (parent && !owner) return nullptr;
  return kept;
}

}  // namespace

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
  const QPointer<QWidget> owner(parent);
  if (SaveForDistribution && SaveForDistribution() && Pump) Pump(400);
  if (parent && !owner) return;
  TDistributionRoute route = RouteByType(distributionType);
  if (route == TDistributionRoute::Ask) {
    auto* choice = new TfrmSelFenFa(parent);
    choice->Setup(distributed_, sentOutside_);
    int result = 0;
    const auto kept = RunOwned(RunModal, choice, parent, result);
    if (!kept || result != QDialog::Accepted) return;
    route = kept->ChoiceFlag() == TfrmSelFenFa::ChoiceInternal ? TDistributionRoute::Internal
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
  auto dialog = std::make_unique<TFrmFenFa>(parent);
  dialog->LoadUsers(reply, {}, true);
  dialog->OnRequestList = RequestUsers;
  int result = 0;
  const auto kept = RunOwned(RunModal, dialog.release(), parent, result);
  if (!kept || result != QDialog::Accepted) return;
  distributed_ = true;
  if (auto frame = BuildUserDistribution(*kept, tableName, recordId, userId); frame && Send) Send(std::move(*frame));
}

void TDistribution::UnitsArrived(std::string_view reply, std::string_view recordId, std::string_view tableName,
                                 QWidget* parent) {
  auto dialog = std::make_unique<TfrmSelectUnit>(parent);
  dialog->LoadUnits(reply);
  int result = 0;
  const auto kept = RunOwned(RunModal, dialog.release(), parent, result);
  if (!kept || result != QDialog::Accepted) return;
  sentOutside_ = true;
  if (Send) Send(frames::BuildOutsideDistributionRequest(recordId, tableName, kept->ChosenUnits()));
}
