#include "apps/oa-server/OaSampleData.h"

// The sample templates' sheets, built with the grid library. Kept apart from the charts:
// the grid and the chart model each have their own geometry types.
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace oa {

namespace {

// ---- sheets ----------------------------------------------------------------------

constexpr TColor kLabelColor = 0xF5EBDC;
constexpr TColor kTitleColor = 0xC07040;
constexpr TColor kFieldColor = clWhite;

class FormSheet {
 public:
  FormSheet(int cols, int rows, std::initializer_list<int> widths) {
    sheet_.SetTitleCount(sCols, 0);
    sheet_.SetTitleCount(sRows, 0);
    sheet_.SetCount(sCols, cols);
    sheet_.SetCount(sRows, rows);
    int i = 0;
    for (int w : widths) sheet_.SetSize(i++, sCols, w);
    for (int r = 0; r < rows; ++r) sheet_.SetSize(r, sRows, 28);
  }

  void Title(const char* text, int cols) {
    TXLCell* c = sheet_.GetCell(0, 0);
    c->SetAsString(Cp936(text));
    c->SetColor(kTitleColor);
    c->SetHorzAlign(haCenter);
    c->Font().SetStyle(fsBold);
    c->Font().SetHeight(-20);
    c->Font().SetColor(clWhite);
    ReadOnly(c);
    sheet_.SetSize(0, sRows, 40);
    Merge(0, 0, cols, 1);
  }
  void Label(int col, int row, const char* text) {
    TXLCell* c = sheet_.GetCell(col, row);
    c->SetAsString(Cp936(text));
    c->SetColor(kLabelColor);
    c->SetHorzAlign(haRight);
    ReadOnly(c);
  }
  // A label beside a field of several rows stands as high as the field.
  void Label(int col, int row, const char* text, int rows) {
    Label(col, row, text);
    Merge(col, row, col + 1, row + rows);
  }
  // A text field, named by its hint; a new document finds it empty unless a default token
  // fills it.
  TXLCell* Text(int col, int row, const char* field, const char* token = "") {
    TXLCell* c = sheet_.GetCell(col, row);
    c->SetAsString(Cp936(token));
    return Field(c, field);
  }
  TXLCell* Typed(int col, int row, const TXLCellClass& cls, const char* field) {
    return Field(sheet_.Section(sClient)->PutCell(TPoint{col, row}, &cls), field);
  }
  void Merge(int left, int top, int right, int bottom) {
    TXLProRange range(sheet_.Section(sClient), TRect{left, top, right, bottom});
    range.Merge(false);
  }
  TXLSheet& Sheet() { return sheet_; }

  std::string Save() {
    TMemoryStream s;
    sheet_.SaveToStream(s);
    return s.Data();
  }

 private:
  // Labels and titles are the template's own text: nobody types over them.
  static void ReadOnly(TXLCell* c) { c->SetStyles(c->GetStyles() | CellStyleBit(csReadOnly)); }
  TXLCell* Field(TXLCell* c, const char* field) {
    c->SetHint(Cp936(field));
    c->SetColor(kFieldColor);
    return c;
  }
  TXLSheet sheet_;
};

constexpr double kJan5th2026 = 46027;  // days since 1899-12-30

}  // namespace

std::string SampleLeaveSheet() {
  FormSheet f(6, 11, {90, 130, 90, 130, 90, 130});
  f.Title("请假审批单", 6);
  f.Label(0, 1, "标题");
  f.Text(1, 1, "标题");
  f.Merge(1, 1, 6, 2);
  f.Label(0, 2, "申请人");
  f.Text(1, 2, "申请人", "[UserName]");
  f.Label(2, 2, "部门");
  f.Text(3, 2, "部门", "[DeptName]");
  f.Label(4, 2, "申请日期");
  f.Text(5, 2, "申请日期", "[Date]");
  f.Label(0, 3, "请假类型");
  TXLCell* kind = f.Typed(1, 3, XLCStringsClass, "请假类型");
  kind->SetAsString(Cp936("事假\r\n病假\r\n年假\r\n婚假"));
  kind->SetEditor(2);  // combo box over the LEAVETYPE source
  kind->SetFormat("|leavetype");
  f.Label(2, 3, "开始日期");
  f.Typed(3, 3, XLCDateTimeClass, "开始日期")->SetAsFloat(kJan5th2026);
  f.Label(4, 3, "结束日期");
  f.Typed(5, 3, XLCDateTimeClass, "结束日期")->SetAsFloat(kJan5th2026 + 2);
  f.Label(0, 4, "请假天数");
  f.Typed(1, 4, XLCIntegerClass, "请假天数")->SetAsInteger(3);
  f.Label(2, 4, "日扣款");
  TXLCell* rate = f.Typed(3, 4, XLCDoubleClass, "日扣款");
  rate->SetAsFloat(120.5);
  rate->SetFormat("0.00");
  f.Label(4, 4, "扣款合计");
  // The value is kept beside the formula, as the form shows it before any evaluation.
  TXLCell* total = f.Typed(5, 4, XLCFormulaClass, "扣款合计");
  total->SetAsFloat(361.5);
  total->SetAsString("=B5*D5");
  total->SetFormat("0.00");
  f.Label(0, 5, "事由", 2);
  f.Text(1, 5, "事由");
  f.Merge(1, 5, 6, 7);
  f.Label(0, 7, "销假");
  f.Typed(1, 7, XLCBooleanClass, "已销假")->SetAsBoolean(false);
  f.Label(0, 8, "科室意见");
  f.Text(1, 8, "科室意见");
  f.Merge(1, 8, 6, 9);
  f.Label(0, 9, "领导意见");
  f.Text(1, 9, "领导意见");
  f.Merge(1, 9, 6, 10);
  f.Label(0, 10, "备案编号");
  f.Text(1, 10, "备案编号");
  f.Merge(1, 10, 6, 11);
  return f.Save();
}

std::string SampleIncomingSheet() {
  FormSheet f(4, 10, {100, 180, 100, 180});
  f.Title("收文登记单", 4);
  f.Label(0, 1, "标题");
  f.Text(1, 1, "标题");
  f.Merge(1, 1, 4, 2);
  f.Label(0, 2, "来文单位");
  f.Text(1, 2, "来文单位");
  f.Label(2, 2, "来文字号");
  f.Text(3, 2, "来文字号");
  f.Label(0, 3, "收文日期");
  f.Typed(1, 3, XLCDateTimeClass, "收文日期")->SetAsFloat(kJan5th2026);
  f.Label(2, 3, "紧急程度");
  TXLCell* urgency = f.Typed(3, 3, XLCStringsClass, "紧急程度");
  urgency->SetAsString(Cp936("普通\r\n紧急\r\n特急"));
  urgency->SetEditor(1);  // pick list of its own items
  f.Label(0, 4, "份数");
  f.Typed(1, 4, XLCIntegerClass, "份数")->SetAsInteger(1);
  f.Label(2, 4, "需要回复");
  f.Typed(3, 4, XLCBooleanClass, "需要回复")->SetAsBoolean(true);
  f.Label(0, 5, "收文编号");
  f.Text(1, 5, "收文编号");
  f.Merge(1, 5, 4, 6);
  f.Label(0, 6, "拟办意见");
  f.Text(1, 6, "拟办意见");
  f.Merge(1, 6, 4, 7);
  f.Label(0, 7, "领导批示");
  f.Text(1, 7, "领导批示");
  f.Merge(1, 7, 4, 8);
  f.Label(0, 8, "承办结果", 2);
  f.Text(1, 8, "承办结果");
  f.Merge(1, 8, 4, 10);
  return f.Save();
}

}  // namespace oa
