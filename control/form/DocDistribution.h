#pragma once
// Distribution of a document: to colleagues ("USER" mode 1, the distribution dialog, then
// "FEFA", or "FEFB" to recall) or to outside units ("COMP", the unit dialog, then "OTFF").
// The document form supplies the hooks; this class runs the dialogs and builds the frames.
// The dialogs belong to the given parent; when the parent is freed inside a dialog's
// modal loop the call returns at once without touching it or calling a hook. The owner
// keeps this object alive across each call (it may itself go in that loop).
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/wire/Frames.h"

class QWidget;
class TFrmFenFa;

// By the document's distribution type: 1 internal, 2 outside, anything else asks.
enum class TDistributionRoute { Internal, Outside, Ask };
TDistributionRoute RouteByType(int32_t distributionType);

// "FEFA" (or "FEFB" in recall mode) for the users chosen in the dialog; nothing when none
// is chosen. An item is marked when its node shows the already-distributed image.
std::optional<std::string> BuildUserDistribution(const TFrmFenFa& dialog, std::string_view tableName,
                                                 std::string_view recordId, std::string_view userId);

class TDistribution {
 public:
  // SaveFields with the distribution flag; true when it saved.
  std::function<bool()> SaveForDistribution;
  // Pumps events for the given milliseconds after the save.
  std::function<void(int ms)> Pump;
  std::function<void(int list)> RequestUsers;  // "USER" mode 1
  std::function<void()> RequestUnits;          // "COMP"
  std::function<void(std::string frame)> Send;
  // Runs a modal dialog; returns its result. Tests may replace it.
  std::function<int(QWidget& dialog)> RunModal;

  TDistribution();

  // "分发".
  void Start(int32_t distributionType, QWidget* parent);
  // A mode-1 "USER" reply: the distribution dialog; on OK "FEFA"/"FEFB".
  // A lazily loaded page's reply goes into the dialog that is open instead.
  void UsersArrived(std::string_view reply, std::string_view tableName, std::string_view recordId,
                    std::string_view userId, QWidget* parent);
  // A "COMP" reply: the unit dialog; on OK "OTFF", even with no unit chosen.
  void UnitsArrived(std::string_view reply, std::string_view recordId, std::string_view tableName,
                    QWidget* parent);

  bool Distributed() const { return distributed_; }
  bool SentOutside() const { return sentOutside_; }

 private:
  bool distributed_ = false;
  bool sentOutside_ = false;
};
