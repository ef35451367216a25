// uikit-gallery --out DIR: one PNG per control and state.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

#include "control/windows/frmPopup.h"
#include "core/AnsiString.h"
#include "uikit/AlphaWindow.h"
#include "uikit/TFlatButtonUnit.h"
#include "uikit/TFlatComboBoxUnit.h"
#include "uikit/TFlatListBoxUnit.h"
#include "uikit/TFlatPanelUnit.h"
#include "uikit/TFlatProgressBarUnit.h"
#include "uikit/TFlatSpeedButtonUnit.h"
#include "uikit/XPStyler.h"
#include "uikit/wiaTile.h"

namespace {
QString outDir;
int written = 0;

void Save(QWidget* w, const QString& name) {
  const QString path = outDir + "/" + name + ".png";
  if (w->grab().save(path)) ++written;
  else std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

void SaveImage(const QImage& img, const QString& name) {
  if (img.save(outDir + "/" + name + ".png")) ++written;
}

void Press(QWidget* w) {
  const QPointF pt(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent e(QEvent::MouseButtonPress, pt, w->mapToGlobal(pt), Qt::LeftButton, Qt::LeftButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Release(QWidget* w) {
  const QPointF pt(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent e(QEvent::MouseButtonRelease, pt, w->mapToGlobal(pt), Qt::LeftButton, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Enter(QWidget* w) {
  const QPointF pt(w->width() / 2.0, w->height() / 2.0);
  QEnterEvent e(pt, pt, w->mapToGlobal(pt));
  QApplication::sendEvent(w, &e);
}

QImage SampleGlyph() {
  QImage g(16, 16, QImage::Format_RGB32);
  g.fill(Qt::white);  // transparent colour (bottom-left)
  QPainter p(&g);
  p.fillRect(3, 3, 10, 10, QColor(0, 0, 0));
  p.fillRect(5, 5, 6, 6, QColor(40, 120, 220));
  return g;
}

template <typename B>
void ButtonStates(QWidget& form, const QString& prefix) {
  auto* b = new B(&form);
  b->setGeometry(10, 10, 90, 44);
  b->SetCaption(QString::fromUtf8("确定"));
  b->SetGlyph(SampleGlyph());
  b->SetLayout(blGlyphLeft);
  form.show();
  QApplication::setActiveWindow(&form);
  TFlatButtonBase::SetCursorProbe([b] { return b; });
  Save(b, prefix + "_up");
  Enter(b);
  Save(b, prefix + "_hot");
  Press(b);
  Save(b, prefix + "_down");
  Release(b);
  TFlatButtonBase::SetCursorProbe([] { return nullptr; });
  Enter(&form);
  if constexpr (std::is_same_v<B, TFlatButton>) {
    b->setFocus();
    Save(b, prefix + "_focused");
    b->clearFocus();
    b->SetDefault(true);
    Save(b, prefix + "_default");
    b->SetDefault(false);
  }
  b->SetGroupIndex(1);
  b->SetDown(true);
  Save(b, prefix + "_exclusive");
  b->SetAllowAllUp(true);
  b->SetDown(false);
  b->setEnabled(false);
  Save(b, prefix + "_disabled");
  delete b;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  const int at = args.indexOf("--out");
  if (at < 0 || at + 1 >= args.size()) {
    std::fprintf(stderr, "usage: uikit-gallery --out DIR\n");
    return 2;
  }
  outDir = args[at + 1];
  QDir().mkpath(outDir);

  QWidget form;
  form.resize(260, 160);
  ButtonStates<TFlatButton>(form, "flatbutton");
  ButtonStates<TFlatSpeedButton>(form, "speedbutton");

  {
    TFlatPanel panel(&form);
    panel.SetCaption(QString::fromUtf8("流程信息"));
    panel.SetColor(0xE1EAEB);
    Save(&panel, "panel");
    panel.setEnabled(false);
    Save(&panel, "panel_disabled");
  }
  {
    TFlatListBox box(&form);
    box.SetScrollBars(true);
    QStringList items;
    for (int i = 1; i <= 12; ++i) items << QString::fromUtf8("收文编号 %1").arg(i);
    box.SetItems(items);
    box.show();
    const QRect row = box.RowRects()[1];
    QMouseEvent e(QEvent::MouseButtonPress, row.center(), box.mapToGlobal(row.center()),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&box, &e);
    Release(&box);
    Save(&box, "listbox_selected");
    box.setEnabled(false);
    Save(&box, "listbox_disabled");
  }
  {
    TFlatComboBox combo(&form);
    combo.resize(150, 21);
    combo.SetItems({QString::fromUtf8("张三"), QString::fromUtf8("李四"), QString::fromUtf8("王五")});
    combo.show();
    Save(&combo, "combo_up");
    combo.showPopup();
    // The button with its arrow up, and the list under it.
    QImage dropped(150, 21 + 80, QImage::Format_RGB32);
    dropped.fill(Qt::white);
    {
      QPainter p(&dropped);
      p.drawPixmap(0, 0, combo.grab());
      QWidget* list = combo.view()->window();
      p.drawPixmap(0, 21, list->grab());
    }
    SaveImage(dropped, "combo_dropped");
    combo.hidePopup();
    combo.SetStyle(TFlatComboBox::csDropDownList);
    combo.setCurrentIndex(1);
    combo.setFocus();
    Save(&combo, "combo_list_focused");
    combo.clearFocus();
    combo.setEnabled(false);
    Save(&combo, "combo_disabled");
  }
  {
    TFlatProgressBar bar(&form);
    bar.resize(147, 16);
    bar.show();
    for (int pos : {0, 50, 100}) {
      bar.SetPosition(pos);
      Save(&bar, QString("progress_%1").arg(pos));
    }
    bar.SetSmooth(true);
    bar.SetPosition(50);
    Save(&bar, "progress_smooth_50");
  }
  {
    QWidget host;
    host.resize(250, 70);
    QPalette pal;
    pal.setColor(QPalette::Window, QColor(0xE1, 0xEA, 0xEB));
    host.setPalette(pal);
    host.setAutoFillBackground(true);
    TwiaTile tile(&host);
    QImage img(50, 35, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.fillRect(10, 8, 30, 18, QColor(90, 130, 200));
    p.end();
    tile.SetImage(img);
    tile.SetTileMode(tmNormal);
    Save(&host, "tile_normal");
    tile.SetTileMode(tmFaded);
    tile.SetFadeColor(RGB(200, 210, 225));
    Save(&host, "tile_faded");
  }
  {
    QWidget xpForm;
    auto* lay = new QVBoxLayout(&xpForm);
    auto* bar = new QMenuBar(&xpForm);
    lay->setMenuBar(bar);
    QMenu* file = bar->addMenu(QString::fromUtf8("文件(&F)"));
    file->addAction(QString::fromUtf8("新建流程"))->setShortcut(QKeySequence("Ctrl+N"));
    QAction* open = file->addAction(QString::fromUtf8("打开..."));
    open->setIcon(QIcon(QPixmap::fromImage(SampleGlyph())));
    QAction* grid = file->addAction(QString::fromUtf8("显示网格"));
    grid->setCheckable(true);
    grid->setChecked(true);
    file->addAction(QString::fromUtf8("打印"))->setEnabled(false);
    file->addSeparator();
    file->addAction(QString::fromUtf8("退出"));
    lay->addWidget(new QLineEdit(QString::fromUtf8("编辑框"), &xpForm));
    lay->addWidget(new QPushButton(QString::fromUtf8("确定"), &xpForm));
    auto* check = new QCheckBox(QString::fromUtf8("复选框"), &xpForm);
    check->setChecked(true);
    lay->addWidget(check);
    lay->addWidget(new QRadioButton(QString::fromUtf8("单选"), &xpForm));
    auto* cb = new QComboBox(&xpForm);
    cb->addItem(QString::fromUtf8("下拉框"));
    lay->addWidget(cb);
    xpForm.resize(220, 230);
    TXPStyler styler(&xpForm);
    styler.SetActive(true);
    xpForm.show();
    Save(&xpForm, "xp_controls");
    file->setActiveAction(open);
    file->adjustSize();
    Save(file, "xp_menu");
    styler.SetActive(false);
    Save(file, "menu_plain");
  }
  {
    auto* popup = new Tfrm_popup;
    popup->SetMessageText(Cp936("您有新的待办文件"));
    popup->AppendMessageText(Cp936("请及时处理"));
    popup->show();
    for (int i = 0; i < 18; ++i) popup->Timer3Timer();
    Save(popup, "popup_full_alpha");
    delete popup;
  }
  std::printf("%d images written to %s\n", written, qPrintable(outDir));
  return 0;
}
