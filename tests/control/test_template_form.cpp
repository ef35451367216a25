// The document form loaded from document replies offscreen: the start step's layout,
// branch conditions over its fields, the open choice on the chart with its blinking
// candidates, the flow strip that wraps, the submit checks and printing.
#include <gtest/gtest.h>

#include <QAccessible>
#include <map>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "apps/oa-server/OaSampleData.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/wire/Un_type.h"
#include "grid/XLCells.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLGridView.h"
#include "grid/ui/XLPdfPrinter.h"
#include "platform/Services.h"
#include "tests/control/TemplateChartSupport.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "template-form";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

class TemplateForm : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSessionValues();
    SessionValues().UserGUID = "{me}";
    SessionValues().UserName = Cp936("张三");
    SessionValues().DeptID = 10;
    SessionValues().UserLevel = 5;
    capture_.now = EncodeDate(2026, 12, 7);
  }
  void TearDown() override { ClearSessionValues(); }

  // A leave request at step `current` (0: not started), with field values.
  static std::string LeaveReply(int current, int next, std::vector<TFieldRecord> values,
                                std::vector<TPassedStep> passed = {}, bool unsavedDraft = false) {
    const oa::SampleTemplate t = oa::SampleTemplates()[0];
    const TFlowMessage wf = oa::SampleWorkflows()[0];
    TStream2Array d;
    TDocHeader& h = d.Header;
    h.SetText(dh::TableName, "oa_leave");
    h.SetText(dh::RecordId, "{R}");
    h.SetText(dh::TitleField, t.titleField);
    h.SetText(dh::NumberField, t.numberField);
    h.SetI32(dh::NumberType, -1);
    h.SetI32(dh::CurrentStep, current);
    h.SetI32(dh::NextStep, next);
    h.SetU8(dh::UnsavedDraft, unsavedDraft);
    d.Steps = wf.steps;
    d.FieldRecords = std::move(values);
    d.FieldRecords.push_back({"Status", "0"});
    d.PassedSteps = std::move(passed);
    d.ComboSources = t.combos;
    return d.BuildDocumentReply(t.sheet, wf.chart);
  }
  static std::string OpenChoiceReply() {
    TStream2Array d;
    d.Header.SetText(dh::TableName, "t");
    d.Header.SetText(dh::RecordId, "{R}");
    d.Header.SetI32(dh::NumberType, -1);
    d.Header.SetI32(dh::CurrentStep, 1);
    d.Header.SetI32(dh::NextStep, -1);
    for (int i = 1; i <= 3; ++i) {
      TStepRecord s;
      s.id = i;
      s.name = std::string(1, char('A' + i - 1));
      s.handlers[0] = {"{h" + std::to_string(i) + "}", "h" + std::to_string(i), 10, ",10,"};
      s.handlerCount = 1;
      d.Steps.push_back(s);
    }
    d.FieldRecords.push_back({"Status", "0"});
    return d.BuildDocumentReply(oa::SampleLeaveSheet(), OpenChoiceChart());
  }
  void Load(TfrmTemplate& form, const std::string& reply, bool newDoc = false) {
    TMemoryStream s{reply};
    form.SetNewDoc(newDoc);
    form.Load(s);
  }
  static const TFieldEntry& Field(TfrmTemplate& f, const char* name) {
    for (const TFieldEntry& e : f.Doc().Fields)
      if (e.name == Cp936(name)) return e;
    throw std::runtime_error(name);
  }
  static TXLCell* CellOf(TfrmTemplate& f, const char* name) {
    const TFieldEntry& e = Field(f, name);
    return f.Sheet().GetCell(e.col, e.row);
  }

  ServiceCapture capture_;
};

TEST_F(TemplateForm, ANewDocumentOpensAtTheStartStepWithItsButtonsAndEditableCells) {
  TfrmTemplate form;
  Load(form, LeaveReply(0, -1, {}), true);
  EXPECT_EQ(form.CurStepNo(), 1);
  EXPECT_TRUE(form.IsStartStep());
  EXPECT_EQ(form.ButtonBar()->width(), 4 * kCommandButtonWidth);  // temporary, send, +2
  EXPECT_EQ(form.NextStepLabel()->text(), U("科室审核"));
  EXPECT_EQ(form.NextUserLabel()->text(), U("李四"));  // department review: his department's reviewer
  EXPECT_EQ(form.Sheet().GetAsString(Field(form, "申请日期").col, Field(form, "申请日期").row),
            DateToStr(capture_.now));
  EXPECT_EQ(CellOf(form, "标题")->Color(), kEditableCellColor);
  EXPECT_TRUE(CellOf(form, "科室意见")->Styles() & CellStyleBit(csReadOnly));
  EXPECT_TRUE(CellOf(form, "标题")->Hint().empty());  // field names never show as tips
  EXPECT_TRUE(form.OpinionPanel()->isHidden());     // the start step has no opinion field
  EXPECT_FALSE(form.TopPanel()->isHidden());
}

// Screen readers and UI automation read the document's record id on the form, its field
// cells by their field names with what they show, and the current step on the chart.
// A saved document holds no date for a date field the person left empty (older saves held
// day zero of the calendar): it opens blank, and closing it untouched is no change. A draft
// never saved shows the template's dates, as the new document it was.
TEST_F(TemplateForm, ADateTheDocumentHoldsNoneOfOpensBlank) {
  TfrmTemplate form;
  Load(form, LeaveReply(1, -1, {{Cp936("开始日期"), "1899-12-30"}, {Cp936("请假天数"), "2"}}));
  for (const char* name : {"开始日期", "结束日期"}) {
    EXPECT_EQ(CellOf(form, name)->GetDisplayText(), "") << name;
    EXPECT_EQ(form.GetFieldValue(Cp936(name)), "") << name;
  }
  form.show();
  form.close();
  EXPECT_TRUE(capture_.prompts.empty());
  EXPECT_FALSE(form.isVisible());

  TfrmTemplate draft;
  Load(draft, LeaveReply(1, -1, {}, {}, true));
  EXPECT_EQ(draft.GetFieldValue(Cp936("开始日期")), DateToStr(EncodeDate(2026, 1, 5)));
  EXPECT_EQ(draft.GetFieldValue(Cp936("结束日期")), DateToStr(EncodeDate(2026, 1, 7)));
}

TEST_F(TemplateForm, TheFormReadsItsRecordFieldsAndCurrentStepThroughAccessibility) {
  TfrmTemplate form;
  Load(form, LeaveReply(2, -1, {{Cp936("请假天数"), "5"}}));
  form.show();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->text(QAccessible::Description), "{R}");

  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(form.Grid()->View(sClient));
  ASSERT_NE(table, nullptr);
  std::map<QString, QAccessibleInterface*> cells;
  for (int i = 0; i < table->childCount(); ++i) cells[table->child(i)->text(QAccessible::Name)] = table->child(i);
  ASSERT_TRUE(cells.count(U("请假天数")));
  EXPECT_EQ(cells[U("请假天数")]->text(QAccessible::Value), "5");
  ASSERT_TRUE(cells.count(U("标题")));
  EXPECT_TRUE(cells.count("A1"));  // a label cell keeps its address
  // The department review edits its opinion and no longer the title.
  ASSERT_TRUE(cells.count(U("科室意见")));
  EXPECT_FALSE(cells[U("科室意见")]->state().readOnly);
  EXPECT_TRUE(cells[U("标题")]->state().readOnly);

  form.ShowFlowChart();
  QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(form.Chart()->Widget());
  ASSERT_GE(chart->childCount(), form.Chart()->ObjectCount());
  int checked = 0;
  for (int i = 0; i < form.Chart()->ObjectCount(); ++i) {
    const bool current = form.Chart()->ObjectStep(i) == 2;
    EXPECT_EQ(chart->child(i)->state().checked, current) << i;
    checked += current;
  }
  EXPECT_EQ(checked, 1);
}

TEST_F(TemplateForm, BranchConditionsReadTheDocumentsFieldValues) {
  for (const auto& [days, next, name] : {std::tuple{"5", 3, "分管领导审批"}, std::tuple{"2", 4, "人事备案"}}) {
    TfrmTemplate form;
    Load(form, LeaveReply(2, -1, {{Cp936("请假天数"), days}}));
    EXPECT_EQ(form.CurStepNo(), 2);
    EXPECT_EQ(form.NextStepNo(), next) << days;
    EXPECT_EQ(form.NextStepLabel()->text(), U(name));
    EXPECT_FALSE(form.OpinionPanel()->isHidden());
    EXPECT_FALSE(form.Buttons().temporary);
  }
}

TEST_F(TemplateForm, AnOpenChoiceBlinksItsCandidatesAndTheChartChoosesAmongThem) {
  TfrmTemplate form;
  Load(form, OpenChoiceReply());
  EXPECT_EQ(form.NextStepNo(), -1);
  EXPECT_TRUE(form.NextStepLabel()->text().isEmpty());

  form.btnSendClick();  // refused: no next step; the chart is shown instead
  ASSERT_FALSE(capture_.prompts.empty());
  EXPECT_EQ(capture_.prompts.back().text, Cp936("请确定下一办理步骤！"));
  EXPECT_FALSE(form.ChartPanel()->isHidden());
  TFormChart& chart = *form.Chart();
  EXPECT_EQ(chart.ObjectColor(0), StepColors[scmCurrent]);
  EXPECT_EQ(chart.ObjectColor(1), StepColors[scmCandidate]);
  EXPECT_EQ(chart.ObjectColor(2), StepColors[scmCandidate]);
  EXPECT_TRUE(form.BlinkTimer()->isActive());
  EXPECT_EQ(form.BlinkTimer()->interval(), 500);
  const TColor before = chart.ObjectShapeColor(1);
  form.TimerTimer();
  EXPECT_NE(chart.ObjectShapeColor(1), before);
  EXPECT_EQ(chart.ObjectShapeColor(1), before == 0 ? BlinkOffColor : TColor(0));

  EXPECT_FALSE(chart.ClickObject(0));  // not a candidate
  EXPECT_TRUE(chart.ClickObject(2));
  EXPECT_EQ(form.NextStepNo(), 3);
  EXPECT_EQ(form.NextStepLabel()->text(), "C");
  EXPECT_EQ(form.NextUserLabel()->text(), "h3");
  EXPECT_EQ(chart.ObjectColor(2), StepColors[scmChosen]);

  // Level 1 may choose any step.
  SessionValues().UserLevel = 1;
  EXPECT_TRUE(chart.ClickObject(1));
  EXPECT_EQ(form.NextStepNo(), 2);
  EXPECT_EQ(chart.ObjectColor(2), StepColors[scmCandidate]);  // the earlier choice gets its colour back
}

TEST_F(TemplateForm, TheFlowStripWrapsAndTheTopPanelGrows) {
  TfrmTemplate short_;
  Load(short_, LeaveReply(2, -1, {{Cp936("请假天数"), "5"}}, {{1, 0}}));
  EXPECT_EQ(short_.TopPanel()->height(), 65);
  std::vector<TPassedStep> many(8, TPassedStep{1, 0});
  TfrmTemplate long_;
  Load(long_, LeaveReply(2, -1, {{Cp936("请假天数"), "5"}}, many));
  EXPECT_GT(long_.TopPanel()->height(), 65);
  EXPECT_EQ((long_.TopPanel()->height() - 65) % 22, 0);
  for (QLabel* l : long_.FlowStrip()->findChildren<QLabel*>())
    EXPECT_LE(l->geometry().right(), long_.FlowStrip()->parentWidget()->width()) << l->text().toStdString();
}

TEST_F(TemplateForm, AMissingHandlerIsAskedForAndChoosingAStepLoadsItsHandlers) {
  TfrmTemplate form;
  SessionValues().DeptID = 99;  // department review leaves nobody at step 2
  Load(form, LeaveReply(1, -1, {{Cp936("标题"), "t"}}));
  EXPECT_TRUE(form.NextUserLabel()->text().isEmpty());
  form.btnSendClick();
  ASSERT_FALSE(capture_.prompts.empty());
  EXPECT_EQ(capture_.prompts.back().text, Cp936("请选择此流程的下一办理人！"));
  EXPECT_FALSE(form.Submitted());

  form.SelectStep(3);
  EXPECT_EQ(form.NextStepNo(), 3);
  EXPECT_EQ(form.NextUserLabel()->text(), U("赵六"));
  EXPECT_TRUE(form.NextUsersCombo()->isHidden());
  ASSERT_EQ(form.Doc().PickedUsers.size(), 1u);
  EXPECT_EQ(form.Doc().PickedUsers[0].userName, Cp936("赵六"));
}

TEST_F(TemplateForm, PrintingHidesFilledHiddenRowsAndReportsAFailure) {
  TfrmTemplate form;
  Load(form, LeaveReply(1, -1, {{Cp936("事由"), "x"}}));
  const TFieldEntry& reason = Field(form, "事由");
  TXLCell* cell = form.Sheet().GetCell(reason.col, reason.row);
  cell->SetStyles(TXLCellStyles(cell->Styles() | CellStyleBit(csHidden)));
  const QString pdf = QDir::temp().filePath("form.pdf");
  capture_.saveAnswers = {pdf.toStdString()};  // no system printers: a PDF file
  form.N_PrintXLGridClick();
  EXPECT_EQ(capture_.prompts.back().text, Cp936("是否打印此审批单？"));
  EXPECT_FALSE(form.Sheet().IsVisible(reason.row, sRows));
  EXPECT_TRUE(form.Sheet().IsVisible(0, sRows));
  EXPECT_GT(QFile(pdf).size(), 0);

  // A file that cannot be written: one box after the question, naming the file.
  capture_.saveAnswers = {"/nonexistent/dir/x.pdf"};
  const size_t asked = capture_.prompts.size();
  form.N_PrintXLGridClick();
  ASSERT_EQ(capture_.prompts.size(), asked + 2);
  EXPECT_EQ(capture_.prompts.back().text, Cp936("打印文件无法写入：/nonexistent/dir/x.pdf"));
}

TEST_F(TemplateForm, PlaceholderFieldsCarryEditedValuesWhileTheFormLives) {
  auto form_ = std::make_unique<TfrmTemplate>();
  TfrmTemplate& form = *form_;
  Load(form, LeaveReply(2, -1, {{Cp936("标题"), Cp936("出差|提示")}, {Cp936("科室意见"), ""}}));
  const TFieldValues values = form.PlaceholderFields();
  const auto it = std::find_if(values.begin(), values.end(), [](const auto& p) { return p.first == Cp936("标题"); });
  ASSERT_NE(it, values.end());
  EXPECT_EQ(it->second, Cp936("出差|提示"));
  EXPECT_TRUE(std::none_of(values.begin(), values.end(), [](const auto& p) { return p.second.empty(); }));
  // The Word editor reaches them through the placeholder source, and nothing after the form.
  ASSERT_TRUE(PlaceholderSource());
  EXPECT_EQ(PlaceholderSource()().size(), values.size());
  form_.reset();
  EXPECT_FALSE(PlaceholderSource());
}

// A sheet wider than the screen, as a mutated document reply may bring with every column
// within what the sheet reader accepts: the dialog fits on the screen and the sheet scrolls
// inside it, where a window the sheet's width would ask for gigabytes of window buffer.
TEST_F(TemplateForm, ASheetWiderThanTheScreenScrollsInsideADialogThatFits) {
  TXLSheet wide;
  TMemoryStream sample(oa::SampleLeaveSheet());
  wide.LoadFromStream(sample);
  wide.SetCount(sCols, 600);
  wide.SetDefSize(sCols, XLMaxLineSize);
  TMemoryStream sheet;
  wide.SaveToStream(sheet);
  TStream2Array d;
  d.Header.SetText(dh::TableName, "oa_leave");
  d.Header.SetText(dh::RecordId, "{R}");
  d.Header.SetI32(dh::NumberType, -1);
  d.Header.SetI32(dh::CurrentStep, 2);
  d.Header.SetI32(dh::NextStep, -1);
  d.Steps = oa::SampleWorkflows()[0].steps;
  d.FieldRecords.push_back({"Status", "0"});
  TfrmTemplate form;
  Load(form, d.BuildDocumentReply(sheet.TakeData(), oa::SampleWorkflows()[0].chart));
  form.show();
  QApplication::processEvents();
  const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
  EXPECT_LE(form.width(), room.width());
  EXPECT_LE(form.height(), room.height());
  EXPECT_FALSE(form.grab().isNull());
}

}  // namespace
