// The workflow editor driven as a person drives it: tools, rubber band, keys, menus and its
// dialogs through real mouse and key events, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FcSample.h"
#include "ModalDriver.h"
#include "platform/QtText.h"
#include "flowchart/ui/fcEdit.h"
#include "flowchart/ui/fcEditCon.h"
#include "flowchart/ui/fcEditObj.h"
#include "flowchart/ui/fcSelUnion.h"
#include "platform/Registry.h"
#include "platform/Services.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_editor";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::string Bytes(const TFcChart& c) { return WriteChartData(c.SaveToData(), c.Font().Name); }

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

struct Editor : ::testing::Test {
  std::unique_ptr<TFChartEditor> ed;
  ServiceCapture capture;
  TFlowChart* chart = nullptr;

  void SetUp() override {
    App();
    ed = std::make_unique<TFChartEditor>();
    ed->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ed.get()));
    chart = ed->Chart;
    QApplication::processEvents();
  }
  QWidget* View() { return chart->viewport(); }
  void Send(QEvent::Type t, QPoint p, Qt::MouseButton b, Qt::MouseButtons held, Qt::KeyboardModifiers m = {}) {
    QMouseEvent e(t, QPointF(p), View()->mapToGlobal(QPointF(p)), b, held, m);
    QApplication::sendEvent(View(), &e);
  }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers m = {}) {
    Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, m);
    Send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, m);
    Send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, m);
    Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, m);
    QApplication::processEvents();
  }
  void Click(QPoint p, Qt::KeyboardModifiers m = {}) { Drag(p, p, m); }
  void DrawStep(QPoint at) {
    ed->btnCreateObject->click();
    Drag(at, at + QPoint(30, 20));
  }
  void DrawConnection(QPoint from, QPoint to) {
    ed->btnCreateConnect->click();
    Drag(from, to);
  }
  // Three steps, and connections 1 -> 2 and 2 -> 3.
  void DrawFlow() {
    DrawStep({40, 40});
    DrawStep({45, 165});
    DrawStep({250, 165});
    DrawConnection({110, 65}, {110, 190});
    DrawConnection({150, 200}, {320, 200});
  }
};

TEST_F(Editor, ToolsDrawStepsAndConnectionsAndUndoWalksBackThroughThem) {
  const int base = ed->UndoManager().Count();
  DrawFlow();
  ASSERT_EQ(chart->ObjectCount(), 3);
  ASSERT_EQ(chart->ConnectionCount(), 2);
  // Steps sit on the 8-unit grid, sized 145 x 50, named by their count.
  EXPECT_EQ(chart->Objects(1)->Left(), 40);
  EXPECT_EQ(chart->Objects(1)->Top(), 160);
  EXPECT_EQ(chart->Objects(1)->Width(), 145);
  EXPECT_EQ(chart->Objects(2)->Text(), Cp936("流程节点 3"));
  EXPECT_EQ(chart->Objects(2)->LineWidth(), 2);
  EXPECT_FALSE(ed->btnCreateObject->isChecked());  // a tool pops up after one use
  TFcConnection* c = chart->Connections(1);
  EXPECT_EQ(c->Source(), chart->Objects(1));
  EXPECT_EQ(c->Dest(), chart->Objects(2));
  EXPECT_EQ(c->SourceArrow().ArrowType(), atOval);
  EXPECT_EQ(c->SourceArrow().Color(), 0x8000FFu);
  EXPECT_EQ(c->DestArrow().ArrowType(), atArrow);
  // A click with the connection tool draws nothing.
  DrawConnection({500, 300}, {503, 302});
  EXPECT_EQ(chart->ConnectionCount(), 2);
  EXPECT_EQ(ed->UndoManager().Count(), base + 5);

  const std::string full = Bytes(*chart);
  ed->Undo();
  ed->Undo();
  EXPECT_EQ(chart->ConnectionCount(), 0);
  EXPECT_EQ(chart->ObjectCount(), 3);
  // Done again by hand, the chart is what it was, and undo still walks back from there.
  DrawConnection({110, 65}, {110, 190});
  DrawConnection({150, 200}, {320, 200});
  EXPECT_EQ(Bytes(*chart), full);
  for (int i = 0; i < 5; ++i) ed->Undo();
  EXPECT_EQ(chart->ObjectCount(), 0);
  EXPECT_FALSE(ed->miUndo->isEnabled());
  ed->Undo();  // nothing left: no change
  EXPECT_EQ(chart->ObjectCount(), 0);
}

TEST_F(Editor, MovingWithTheChartTakesOneSnapshotPerDrag) {
  DrawStep({40, 40});
  DrawStep({240, 40});
  Drag({20, 20}, {460, 120});  // rubber band round both
  ASSERT_EQ(chart->SelectedObjects().size(), 2u);
  const int before = ed->UndoManager().Count();
  Drag({100, 60}, {140, 100});
  QApplication::processEvents();
  EXPECT_EQ(chart->Objects(0)->Left(), 80);
  EXPECT_EQ(ed->UndoManager().Count(), before + 1);
  ed->Undo();
  EXPECT_EQ(chart->Objects(0)->Left(), 40);
  EXPECT_EQ(chart->Objects(1)->Left(), 240);
}

TEST_F(Editor, RubberBandTogglesWithShiftAndEscCancels) {
  DrawFlow();
  Drag({10, 10}, {220, 120});  // the first step and the first connection's start
  EXPECT_EQ(chart->SelectedObjects().size(), 1u);
  EXPECT_EQ(chart->SelectedConnections().size(), 1u);
  EXPECT_EQ(ed->lblTip->text(), QString::fromUtf8("当前选中：流程连线"));
  Drag({240, 150}, {420, 240}, Qt::ShiftModifier);
  EXPECT_EQ(chart->SelectedObjects().size(), 2u);
  // Esc during a band leaves the selection as it was after the press.
  Send(QEvent::MouseButtonPress, {600, 380}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
  Send(QEvent::MouseMove, {10, 10}, Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
  QTest::keyClick(chart, Qt::Key_Escape);
  Send(QEvent::MouseButtonRelease, {10, 10}, Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
  EXPECT_EQ(chart->SelectedObjects().size(), 2u);
}

TEST_F(Editor, CopyPasteMakesNewStepsWiredLikeTheOriginals) {
  DrawFlow();
  chart->Objects(1)->SetStepId("7");
  Drag({20, 140}, {420, 240});  // steps 2 and 3 and the connection between them
  ASSERT_EQ(chart->SelectedObjects().size(), 2u);
  QTest::keyClick(chart, Qt::Key_Insert, Qt::ControlModifier);
  ASSERT_EQ(ed->Clipboard().size(), 4u);  // two steps, the connection inside and the one cut loose
  EXPECT_TRUE(ed->miPaste->isEnabled());
  QTest::keyClick(chart, Qt::Key_Insert, Qt::ShiftModifier);
  ASSERT_EQ(chart->ObjectCount(), 5);
  ASSERT_EQ(chart->ConnectionCount(), 4);
  TFcObject* a = chart->Objects(3);
  TFcObject* b = chart->Objects(4);
  EXPECT_EQ(a->Left(), 45);
  EXPECT_EQ(a->Top(), 165);
  EXPECT_TRUE(a->Selected());
  // A pasted step is a new step: no id, a name of its own.
  EXPECT_TRUE(a->StepId().empty());
  EXPECT_EQ(a->Text(), Cp936("流程节点 2-2"));
  TFcConnection* inner = chart->Connections(3);
  EXPECT_EQ(inner->Source(), a);
  EXPECT_EQ(inner->Dest(), b);
  EXPECT_EQ(inner->SourcePoint(), chart->Connections(1)->SourcePoint());
  TFcConnection* cut = chart->Connections(2);
  EXPECT_EQ(cut->Source(), nullptr);
  EXPECT_EQ(cut->Dest(), a);
  // Cut removes the selection; one undo brings it back.
  ed->CutSelection();
  EXPECT_EQ(chart->ObjectCount(), 3);
  ed->Undo();
  EXPECT_EQ(chart->ObjectCount(), 5);
}

TEST_F(Editor, UnionsAreMadeListedAndHinted) {
  DrawStep({40, 40});
  DrawStep({240, 40});
  DrawStep({440, 40});
  EXPECT_TRUE(UnionChoices(chart, 0).empty());
  {
    auto none = WhenModal<TFSelectUnion>([](TFSelectUnion* d) { d->accept(); });
    EXPECT_EQ(SelectUnionDialog(chart, 0, ed.get()), nullptr);
  }
  Drag({20, 20}, {400, 100});
  ed->miNewUnion->trigger();
  TFcObject* u = chart->Objects(0);
  ASSERT_TRUE(u->HasUnionChildren());
  EXPECT_EQ(ed->UnionHint(u), "Main Item of the Union 1");
  EXPECT_EQ(ed->UnionHint(chart->Objects(1)), "Child Item of the Union 1");
  chart->Objects(2)->SetText("C");
  chart->ClearSelection();
  chart->Objects(2)->SetSelected(true);
  // The third step joins through the union dialog.
  {
    auto pick = WhenModal<TFSelectUnion>([](TFSelectUnion* d) {
      EXPECT_EQ(d->lbUnions->count(), 1);
      EXPECT_EQ(d->lbUnions->item(0)->text(), "Union 1 ( " + QString::fromUtf8("流程节点 1") + " )");
      d->lbUnions->setCurrentRow(0);
      d->accept();
    });
    ed->miAddToUnion->trigger();
  }
  EXPECT_TRUE(u->UnionContains(chart->Objects(2)));
  chart->Objects(2)->AddToUnion(chart->Objects(1));
  EXPECT_EQ(ed->UnionHint(chart->Objects(2)), "Main Item of the Union 2 and Child Item of the Union 1");
  EXPECT_EQ(ed->UnionHint(chart->Objects(1)), "Child Item of the Unions 1, 2");
  ed->ClearAllUnions();
  EXPECT_FALSE(u->HasUnionChildren());
  ed->Undo();
  EXPECT_TRUE(chart->Objects(0)->HasUnionChildren());
}

TEST_F(Editor, ObjectDialogWritesOnlyChangedFieldsIntoEverySelectedObject) {
  DrawFlow();
  chart->Objects(0)->SetShapeType(stEllipse);
  chart->Objects(1)->SetImageIndex(1);
  Drag({20, 20}, {220, 240});
  ASSERT_EQ(chart->SelectedObjects().size(), 2u);
  const std::string before = Bytes(*chart);
  {
    auto ok = WhenModal<TFEditObject>([](TFEditObject* d) { d->btnOK->click(); });
    EXPECT_TRUE(EditObject(chart, chart->Objects(0)));
  }
  EXPECT_EQ(Bytes(*chart), before);
  {
    auto edit = WhenModal<TFEditObject>([](TFEditObject* d) {
      EXPECT_EQ(d->cbShapeStyle->currentIndex(), stEllipse);
      d->seWidth->selectAll();
      QTest::keyClicks(d->seWidth, "300");
      // Out of the field's range: refused keystroke by keystroke.
      d->seShapeWidth->selectAll();
      QTest::keyClicks(d->seShapeWidth, "256");
      EXPECT_EQ(d->seShapeWidth->text(), "25");
      d->seShapeWidth->selectAll();
      QTest::keyClicks(d->seShapeWidth, "2");
      d->btnClear->click();
      d->btnOK->click();
    });
    // A double click on a step opens the dialog for the first selected one.
    Send(QEvent::MouseButtonDblClick, {100, 60}, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, {100, 60}, Qt::LeftButton, Qt::NoButton);
    QApplication::processEvents();
  }
  EXPECT_EQ(chart->Objects(0)->Width(), 300);
  EXPECT_EQ(chart->Objects(1)->Width(), 300);
  EXPECT_EQ(chart->Objects(2)->Width(), 145);  // not selected
  EXPECT_EQ(chart->Objects(1)->ShapeType(), stRectangle);  // untouched field stays
  EXPECT_EQ(chart->Objects(0)->LineWidth(), 2);
  EXPECT_EQ(chart->Objects(1)->ImageIndex(), -1);
  EXPECT_EQ(chart->DragKind(), dkNone);
  ed->Undo();
  EXPECT_EQ(chart->Objects(0)->Width(), 145);
}

TEST_F(Editor, ConnectionDialogMovesOnlyTheDestinationEnd) {
  DrawFlow();
  chart->ClearSelection();
  chart->Connections(0)->SetSelected(true);
  chart->Connections(1)->SetSelected(true);
  const uint8_t sp0 = chart->Connections(0)->SourcePoint(), sp1 = chart->Connections(1)->SourcePoint();
  const std::string text1 = chart->Connections(1)->Text();
  {
    auto edit = WhenModal<TFEditConnection>([](TFEditConnection* d) {
      EXPECT_EQ(d->seDPoint->text().toInt(), 1 + 0);  // filled from the first connection
      d->seDPoint->selectAll();
      QTest::keyClicks(d->seDPoint, "17");  // beyond 16: the 7 is refused
      EXPECT_EQ(d->seDPoint->text(), "1");
      d->seDPoint->selectAll();
      QTest::keyClicks(d->seDPoint, "5");
      d->btnOK->click();
    });
    chart->Connections(0)->SetDest(chart->Connections(0)->Dest(), 0);
    EXPECT_TRUE(EditConnection(chart, chart->Connections(0)));
  }
  for (TFcConnection* c : {chart->Connections(0), chart->Connections(1)}) {
    EXPECT_EQ(c->DestPoint(), 4);
    EXPECT_EQ(c->RealPoints().back(), c->Dest()->LinkedPoint(4));
  }
  EXPECT_EQ(chart->Connections(0)->SourcePoint(), sp0);
  EXPECT_EQ(chart->Connections(1)->SourcePoint(), sp1);
  EXPECT_EQ(chart->Connections(1)->Text(), text1);
}

TEST_F(Editor, SavedChartReopensByteForByteAndABadFileChangesNothing) {
  DrawFlow();
  chart->Connections(0)->SetText(Cp936("同意"));
  const std::string dir = std::filesystem::temp_directory_path() / "editor-files";
  std::filesystem::create_directories(dir);
  capture.saveAnswers = {dir + "/a.flc"};
  ed->miSaveAs->trigger();
  ASSERT_EQ(capture.fileDialogs.size(), 1u);
  EXPECT_EQ(capture.fileDialogs[0].options.defaultExt, "flc");
  EXPECT_EQ(capture.fileDialogs[0].options.filter, Cp936("流程图 (*.flc)|*.flc"));
  const std::string saved = ReadFile(dir + "/a.flc");
  ASSERT_FALSE(saved.empty());

  TFChartEditor other;
  capture.openAnswers = {{dir + "/a.flc"}};
  other.miOpen->trigger();
  ASSERT_EQ(other.Chart->ObjectCount(), 3);
  capture.saveAnswers = {dir + "/b.flc"};
  other.miSaveAs->trigger();
  EXPECT_EQ(ReadFile(dir + "/b.flc"), saved);

  std::ofstream(dir + "/bad.flc", std::ios::binary) << std::string("\x05\x00\x01", 3);
  capture.openAnswers = {{dir + "/bad.flc"}};
  other.miOpen->trigger();
  EXPECT_EQ(other.Chart->ObjectCount(), 3);
  ASSERT_EQ(capture.prompts.size(), 1u);
  capture.openAnswers = {};  // cancelled: nothing happens
  other.miOpen->trigger();
  EXPECT_EQ(Bytes(*other.Chart), saved);
}

TEST_F(Editor, ZoomCommandsStopAtTheirLimitsAndFitDisablesThem) {
  for (int i = 0; i < 40; ++i) ed->ZoomIn();
  EXPECT_EQ(chart->Zoom(), 490);
  EXPECT_FALSE(ed->miZoomIn->isEnabled());
  ed->ActualSize();
  EXPECT_FALSE(ed->miActualSize->isEnabled());
  for (int i = 0; i < 20; ++i) ed->ZoomOut();
  EXPECT_EQ(chart->Zoom(), 20);
  EXPECT_FALSE(ed->miZoomOut->isEnabled());
  ed->ActualSize();
  // The zoom tool: a click zooms in, an Alt click out; nothing gets selected meanwhile.
  DrawStep({40, 40});
  ed->sbZoom->click();
  Click({100, 60});
  EXPECT_EQ(chart->Zoom(), 110);
  EXPECT_TRUE(chart->SelectedObjects().empty());
  Click({100, 60}, Qt::AltModifier);
  EXPECT_EQ(chart->Zoom(), 100);
  ed->sbFit->click();
  EXPECT_EQ(chart->Zoom(), 0);
  EXPECT_FALSE(ed->miZoomIn->isEnabled());
  EXPECT_FALSE(ed->sbZoom->isChecked());
  ed->sbFit->click();
  EXPECT_EQ(chart->Zoom(), 100);
}

TEST_F(Editor, HelpOpensTheFirstHelpFileFoundHereOrUnderTheRegisteredFolder) {
  namespace fs = std::filesystem;
  const fs::path home = fs::temp_directory_path() / "editor-help";
  fs::create_directories(home / "here");
  fs::create_directories(home / "root" / "Help");
  const fs::path was = fs::current_path();
  fs::current_path(home / "here");
  ed->Contens1->trigger();
  EXPECT_TRUE(capture.shellOpens.empty());  // nowhere: nothing happens
  {
    Registry reg;
    reg.Load();
    reg.WriteString("HKEY_LOCAL_MACHINE\\Software\\Calvessa\\FCEditor", "RootDir", (home / "root").string());
    reg.Save();
  }
  std::ofstream(home / "root" / "Help" / "FCEditor.hlp") << "help";
  ed->Contens1->trigger();
  ASSERT_EQ(capture.shellOpens.size(), 1u);
  EXPECT_EQ(fs::path(capture.shellOpens[0]), home / "root" / "Help" / "FCEditor.hlp");
  std::ofstream(home / "here" / "FCEditor.hlp") << "help";
  ed->Contens1->trigger();
  ASSERT_EQ(capture.shellOpens.size(), 2u);
  EXPECT_EQ(fs::path(capture.shellOpens[1]), home / "here" / "FCEditor.hlp");
  fs::current_path(was);
}

TEST(UndoManager, KeepsAtMostItsLimitAndDropsRepeats) {
  TFcChart chart;
  TUndoManager undo(&chart);
  undo.SetLimit(500);
  EXPECT_EQ(undo.Limit(), 200);
  undo.SetLimit(30);
  undo.SaveState();
  undo.SaveState();
  EXPECT_EQ(undo.Count(), 1);
  EXPECT_FALSE(undo.CanUndo());
  for (int i = 0; i < 31; ++i) {
    chart.CreateObject(i * 8, 0, 10, 10, stRectangle);
    undo.SaveState();
  }
  EXPECT_EQ(undo.Count(), 30);
  for (int i = 0; i < 40; ++i) undo.Undo();
  // The oldest kept snapshot holds two objects: the empty chart and the first were dropped.
  EXPECT_EQ(chart.ObjectCount(), 2);
  EXPECT_EQ(undo.Count(), 1);
  EXPECT_EQ(undo.StoreSize(), Bytes(chart).size());
}

// The editor may go for good while one of its property dialogs is up (whoever owns it frees
// it, at once or from the dialog's own event loop): the dialog goes with it, the edit is
// dropped and nothing touches either afterwards.
TEST_F(Editor, PropertyDialogsSurviveTheEditorGoingWhileTheyAreUp) {
  DrawFlow();
  chart->Objects(0)->SetSelected(true);
  {
    auto gone = WhenModal<TFEditObject>([this](TFEditObject* d) {
      d->seWidth->selectAll();
      QTest::keyClicks(d->seWidth, "300");
      ed.reset();
    });
    EXPECT_FALSE(EditObject(chart, chart->Objects(0)));
    EXPECT_TRUE(gone.Acted());
  }
  EXPECT_EQ(ed, nullptr);

  SetUp();
  DrawFlow();
  chart->Connections(0)->SetSelected(true);
  {
    QPointer<TFChartEditor> editor(ed.get());
    auto gone = WhenModal<TFEditConnection>([this](TFEditConnection*) {
      if (ed) ed.release()->deleteLater();
    });
    EXPECT_FALSE(EditConnection(chart, chart->Connections(0)));
    EXPECT_TRUE(gone.Acted());
    EXPECT_TRUE(editor.isNull());
  }

  SetUp();
  DrawStep({40, 40});
  DrawStep({240, 40});
  Drag({20, 20}, {300, 100});
  ed->miNewUnion->trigger();
  {
    auto gone = WhenModal<TFSelectUnion>([this](TFSelectUnion* d) {
      d->lbUnions->setCurrentRow(0);
      ed.reset();
    });
    EXPECT_EQ(SelectUnionDialog(chart, 0, ed.get()), nullptr);
    EXPECT_TRUE(gone.Acted());
  }
}

}  // namespace
