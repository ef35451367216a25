// The document form's widgets and their places: built once, top to bottom (each part
// returns its panel), then fitted to the sheet each document brings.
#pragma once

class QWidget;
class TfrmTemplate;

class TTemplateLayout {
 public:
  explicit TTemplateLayout(TfrmTemplate& form) : form_(form) {}

  void Build();
  // The command buttons the current step offers, side by side.
  void ArrangeButtons();
  // Which panels show, and the sheet's size.
  void AdjustLayout();
  // A dialog fits its grid (within the screen); otherwise the form is maximised.
  void FitFormToGrid();
  // The grid, the attachment list and the sign-off bar's buttons in their places.
  void PlaceGrid();

 private:
  QWidget* BuildTopPanel();
  QWidget* BuildCommandButtons();
  QWidget* BuildOpinionPanel();
  QWidget* BuildSignOffBar();
  QWidget* BuildMainArea();
  void BuildGrid();
  void BuildChartPanel();
  void BuildFloatingPanels();
  QWidget* BuildStatusBar();
  void ConnectCommands();
  void BuildMenus();
  // The distribution dialogs reach the form only while it exists.
  void WireDistribution();

  TfrmTemplate& form_;
};
