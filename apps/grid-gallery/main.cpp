// grid-gallery [--out DIR]: a form sheet in the grid window, written as PNGs: at rest, with
// an open editor, zoomed to 150 and with the calendar of a date cell.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <cstdio>

#include "core/AnsiString.h"
#include "core/DateTime.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLEdits.h"
#include "grid/ui/XLGridView.h"

namespace {

AnsiString Zh(const char* utf8) { return Utf8ToCp936(utf8); }

TXLCell* Put(TXLSection& s, int col, int row, const TXLCellClass& cls, const char* text = nullptr) {
  TXLCell* c = s.PutCell(TPoint{col, row}, &cls);
  if (text) c->SetAsString(Zh(text));
  return c;
}

// A leave request form: a merged title, labels on a tinted column, a check box, a date with
// its calendar, and a formula adding two day counts.
void BuildForm(TXLSheet& sheet) {
  sheet.SetCount(sCols, 6);
  sheet.SetCount(sRows, 12);
  sheet.SetDefSize(sRows, 24);
  sheet.SetSize(1, sCols, 110);
  sheet.SetSize(3, sCols, 110);
  TXLSection& s = *sheet.Section(sClient);
  s.Merge(TRect{0, 0, 6, 1});
  TXLCell* title = Put(s, 0, 0, XLCStringClass, "请 假 单");
  title->SetHorzAlign(haCenter);
  title->SetVertAlign(vaCenter);
  title->Font().SetHeight(-20);
  title->Font().SetStyle(fsBold);
  sheet.SetSize(0, sRows, 40);
  const char* labels[] = {"申请人", "部门", "开始日期", "天数", "加班抵扣", "合计", "已审批"};
  for (int i = 0; i < 7; ++i) {
    TXLCell* l = Put(s, 0, i + 1, XLCStringClass, labels[i]);
    l->SetColor(RGB(221, 235, 247));
    l->SetStyles(CellStyleBit(csReadOnly));
  }
  Put(s, 1, 1, XLCStringClass, "张三");
  Put(s, 1, 2, XLCStringClass, "办公室");
  TXLCell* date = Put(s, 1, 3, XLCDateTimeClass);
  date->SetFormat("yyyy-mm-dd|c");
  date->SetAsDateTime(EncodeDate(2026, 12, 7));
  Put(s, 1, 4, XLCIntegerClass)->SetAsInteger(3);
  Put(s, 1, 5, XLCIntegerClass)->SetAsInteger(1);
  auto* sum = static_cast<TXLCFormula*>(Put(s, 1, 6, XLCFormulaClass));
  sum->SetAsString("=B5+B6");
  sum->SetAsFloat(4);
  sum->SetAsString("=B5+B6");
  sum->SetColor(RGB(255, 242, 204));
  Put(s, 1, 7, XLCBooleanClass)->SetAsBoolean(true);
  s.Merge(TRect{2, 1, 6, 8});
  TXLCell* note = Put(s, 2, 1, XLCStringClass, "备注：请在开始日期前三天提交。");
  note->SetWrapMode(wmWrapWords);
  note->SetVertAlign(vaTop);
  note->SetHint(Zh("可写多行"));
  s.Merge(TRect{0, 8, 2, 10});
  TXLCell* rule = Put(s, 0, 8, XLCStringClass, "Approved leave is paid at the normal daily rate.");
  rule->SetWrapMode(wmWrapWords);
  rule->SetHorzAlign(haCenter);
  const TXLLine pen{1, clBlack};
  TXLProRange(&s, TRect{0, 1, 6, 8}).SetLines(SideBit(sLeft) | SideBit(sTop) | SideBit(sRight) | SideBit(sBottom) |
                                                  SideBit(sHInside) | SideBit(sVInside),
                                              pen);
}

bool Save(QWidget& w, const QString& path) {
  const bool ok = w.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString out = QStringLiteral(".");
  for (int i = 1; i + 1 < argc; ++i)
    if (QString::fromLocal8Bit(argv[i]) == QStringLiteral("--out")) out = QString::fromLocal8Bit(argv[i + 1]);
  QDir().mkpath(out);
  XLRegisterCellClasses();
  DefaultFormatSettings().ShortDateFormat = "yyyy-MM-dd";
  TXLSheet sheet;
  BuildForm(sheet);
  TXLGrid grid;
  grid.SetOptions(OptionBit(oDrawFocus) | OptionBit(oTitle3D) | OptionBit(oPermEdit) | OptionBit(oVertLines) |
                  OptionBit(oHorzLines));
  grid.SetShowHint(true);
  grid.resize(640, 340);
  grid.SetSheet(&sheet);
  grid.show();
  QApplication::setActiveWindow(&grid);
  if (!QTest::qWaitForWindowExposed(&grid)) return 1;
  bool ok = true;
  grid.SetCurCell(1, 2);
  grid.setFocus();
  for (QChar c : QStringLiteral("Finance")) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
  ok &= Save(grid, out + QStringLiteral("/grid-form-editing.png"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  grid.SetScale(150);
  ok &= Save(grid, out + QStringLiteral("/grid-form-150.png"));
  grid.SetScale(100);
  grid.SetCurCell(1, 3);
  if (auto* date = dynamic_cast<TXLDateTimeEdit*>(grid.Editor()->EditorControl())) {
    TXLButton* button = grid.Editor()->Button();
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    // The pop-up is a window of its own: draw both into one picture.
    QImage shot = grid.grab().toImage();
    QPainter p(&shot);
    TGSPopupPanel* panel = date->PopupPanel();
    p.drawPixmap(grid.mapFromGlobal(panel->pos()), panel->grab());
    p.end();
    const QString path = out + QStringLiteral("/grid-form-calendar.png");
    ok &= shot.save(path);
    std::printf("wrote %s\n", qPrintable(path));
    panel->ClosePopup();
  }
  return ok ? 0 : 1;
}
