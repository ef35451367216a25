// The document form's loading and layout: its widgets, built once, top to bottom (each
// part returns its panel); the document reply read into the sheet, the chart and the
// fields; the widgets fitted to the sheet it brings.
#pragma once

class QWidget;
class TMemoryStream;
class TStream;
class TfrmTemplate;

class TTemplateLayout {
 public:
  explicit TTemplateLayout(TfrmTemplate& form) : form_(form) {}

  void Build();
  // The document reply: sheet, chart, fields, step and next step, then the attachment query.
  void Load(TMemoryStream& reply);
  // A bare sheet, for picking a cell.
  void LoadSheet(TStream& sheet);
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
