#include "grid/ui/XLEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <exception>

#include "core/Exception.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"
#include "grid/ui/XLEdits.h"
#include "grid/ui/XLGridView.h"
#include "grid/ui/XLQtCanvas.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {
// A cell colour that means "the section's own colour".
constexpr TColor kDefaultColorMarker = 536870911;

}  // namespace

// ---- editor base ----

TXLInplaceEditor::TXLInplaceEditor(TXLEdit* host) : QWidget(host), host_(host) {}

int TXLInplaceEditor::TextHeight() const { return QFontMetrics(font()).height(); }

bool TXLInplaceEditor::event(QEvent* e) {
  const int type = int(e->type());
  if (type < XLM_FOCUSCONTROL || type > XLM_CELLCLICK) return QWidget::event(e);
  auto* m = static_cast<TXLEditorMessage*>(e);
  // Conversion errors come back to the host in the message; none crosses the event loop.
  try {
    switch (type) {
      case XLM_FOCUSCONTROL: m->Control = FocusControl(); break;
      case XLM_LOAD:
        m->Result = Load(m->Cell);
        SetUserChanged(false);
        break;
      case XLM_STORE: Store(m->Cell); break;
      case XLM_ALIGNMENT: SetAlignment(TXLHorzAlign(m->WParam), int(m->LParam)); break;
      case XLM_BUTTONCLICK: ButtonClick(int(m->WParam), m->LParam != 0); break;
      case XLM_CELLCLICK:
        m->Result = CellClick(TPoint{int32_t(m->WParam), int32_t(m->LParam)}, QGuiApplication::keyboardModifiers());
        break;
    }
  } catch (const Exception& ex) {
    m->Result = -1;
    m->setAccepted(false);
    failure_ = ex.Message();
    return true;
  } catch (const std::exception& ex) {
    m->Result = -1;
    m->setAccepted(false);
    failure_ = ex.what();
    return true;
  }
  m->setAccepted(true);
  return true;
}

// ---- glyph button ----

TXLButton::TXLButton(QWidget* parent) : QWidget(parent) {
  resize(17, 17);  // the host stretches it over its own height
  setCursor(Qt::ArrowCursor);
  hide();
}

void TXLButton::SetStyle(int style) {
  if (style == style_) return;
  style_ = style;
  setFixedWidth(style ? QFontMetrics(font()).horizontalAdvance(QLatin1Char('M')) + 6 : 17);
  update();
}

void TXLButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, QColor(236, 233, 216));
  auto edge = [&](const QRect& box, bool sunken) {
    p.setPen(sunken ? QColor(172, 168, 153) : QColor(Qt::white));
    p.drawLine(box.topLeft(), box.topRight());
    p.drawLine(box.topLeft(), box.bottomLeft());
    p.setPen(sunken ? QColor(Qt::white) : QColor(113, 111, 100));
    p.drawLine(box.bottomLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomRight());
  };
  auto triangle = [&](const QRect& box, bool up) {
    const int cx = box.center().x(), cy = box.center().y(), s = std::max(2, std::min(box.width(), box.height()) / 4);
    QPolygon poly;
    if (up) poly << QPoint(cx - s, cy + s / 2) << QPoint(cx + s, cy + s / 2) << QPoint(cx, cy - s / 2 - 1);
    else poly << QPoint(cx - s, cy - s / 2) << QPoint(cx + s, cy - s / 2) << QPoint(cx, cy + s / 2 + 1);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPolygon(poly);
  };
  if (style_ == 1) {
    const QRect upper(0, 0, r.width(), r.height() / 2), lower(0, r.height() / 2, r.width(), r.height() - r.height() / 2);
    edge(upper, down_ && !lower_);
    edge(lower, down_ && lower_);
    triangle(upper, true);
    triangle(lower, false);
    return;
  }
  edge(r, down_);
  if (style_ == 2) {
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("..."));
  } else {
    triangle(r, false);
  }
}

void TXLButton::Click() {
  if (OnClick) Guarded([&] { OnClick(lower_); });
}

void TXLButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  down_ = true;
  lower_ = e->position().y() >= height() / 2;
  update();
  if (style_ == 1) {
    repeat_ = 0;  // the click happens now; the next ones after the repeat delay
    QPointer<TXLButton> self(this);
    Click();
    if (self) timer_ = startTimer(50);
  }
}

void TXLButton::mouseReleaseEvent(QMouseEvent* e) {
  if (timer_) killTimer(timer_);
  timer_ = 0;
  const bool wasDown = std::exchange(down_, false);
  update();
  if (wasDown && style_ != 1 && rect().contains(e->position().toPoint())) Click();
}

void TXLButton::timerEvent(QTimerEvent* e) {
  if (e->timerId() == timer_ && RepeatStep(repeat_, true)) Click();
}

// ---- hint window ----

TXLHintWindow::TXLHintWindow(QWidget* grid) : QLabel(grid, Qt::ToolTip | Qt::FramelessWindowHint) {
  setFont(grid->font());
  setMargin(2);
  setFrameShape(QFrame::Box);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(255, 255, 225));
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
}

void TXLHintWindow::ShowHint(const QString& text, QPoint marker) {
  marker_ = marker;
  setText(text);
  ensurePolished();  // the style's margins count in the size
  adjustSize();
  // 14 pixels right of the marker, its bottom 11 pixels above it.
  move(marker.x() + 14, marker.y() - 11 - height());
  show();
}

// ---- hint memo ----

TXLHintMemo::TXLHintMemo(TXLGrid* grid, TXLView* pane, TPoint cell)
    : QPlainTextEdit(pane), grid_(grid), pane_(pane), pos_(cell) {
  setFont(grid->font());
  QPalette pal = palette();
  pal.setColor(QPalette::Base, QColor(255, 255, 225));
  pal.setColor(QPalette::Text, Qt::black);
  setPalette(pal);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  const TXLCell* c = pane->Section()->FindCell(cell);
  setPlainText(c ? ToQString(c->GetHint()) : QString());
  // Where the cell's hint shows: right of and above its top-right corner, inside the pane.
  const QRect r = pane->CellRect(cell);
  const QSize size(160, 80);
  const int x = std::clamp(r.right() + 14, 0, std::max(0, pane->width() - size.width()));
  const int y = std::clamp(r.top() - 10 - size.height(), 0, std::max(0, pane->height() - size.height()));
  setGeometry(QRect(QPoint(x, y), size));
}

void TXLHintMemo::Close(bool store) {
  if (closing_) return;
  closing_ = true;
  if (store)
    Guarded([&] {
      AnsiString text = ToAnsi(toPlainText());
      std::erase(text, '\r');
      text = TrimRight(text);
      TXLSection* section = pane_->Section();
      TXLCell* cell = !section ? nullptr : text.empty() ? section->FindCell(pos_) : section->GetCell(pos_);
      if (cell) cell->SetHint(text);
    });
  grid_->hintMemo_ = nullptr;
  hide();
  if (store && grid_->isVisible()) {
    grid_->setFocus();
    Guarded([&] { grid_->ShowEditorIfPerm(); });
  }
  QCoreApplication::postEvent(this, new QEvent(QEvent::Type(XLM_HINTCLOSE)));
}

bool TXLHintMemo::event(QEvent* e) {
  if (e->type() != QEvent::Type(XLM_HINTCLOSE)) return QPlainTextEdit::event(e);
  deleteLater();
  return true;
}

void TXLHintMemo::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) return Close();
  QPlainTextEdit::keyPressEvent(e);
}

void TXLHintMemo::focusOutEvent(QFocusEvent* e) {
  QPlainTextEdit::focusOutEvent(e);
  if (e->reason() != Qt::PopupFocusReason) Close();
}

// ---- host ----

TXLEdit::TXLEdit(QWidget* owner) : QWidget(owner), grid_(dynamic_cast<TXLGrid*>(owner)) {
  if (!grid_) throw EXLGridError("Invalid parent!");
  button_ = new TXLButton(this);
  button_->OnClick = [this](bool lower) {
    if (!editor_) return;
    TXLEditorMessage m(XLM_BUTTONCLICK, cell_, button_->Style(), lower ? 1 : 0);
    QCoreApplication::sendEvent(editor_, &m);
  };
  hide();
}

TXLEdit::~TXLEdit() {
  if (cell_) cell_->SetFlag(xfLinked, false);
}

void TXLEdit::SetPane(TXLView* pane) {
  if (pane == pane_) return;
  Cancel();
  pane_ = pane;
  setParent(pane);
  hide();
}

TXLCell* TXLEdit::CellAtPos(bool create) const {
  if (!pane_ || !pane_->Section()) return nullptr;
  TXLSection* s = pane_->Section();
  return create ? s->GetCell(pos_) : s->FindCell(pos_);
}

void TXLEdit::SwitchEditor(const TXLClass* editorClass) {
  if (editorClass == editorClass_ && editor_) return;
  if (editor_) {
    if (focus_) focus_->removeEventFilter(this);
    editor_->hide();
    editor_->deleteLater();  // it may be on the call stack
    editor_ = nullptr;
    focus_ = nullptr;
  }
  editorClass_ = editorClass;
  editor_ = CreateXLEditor(editorClass, this);
  if (!editor_) return;
  editor_->setAutoFillBackground(true);
  TXLEditorMessage m(XLM_FOCUSCONTROL);
  QCoreApplication::sendEvent(editor_, &m);
  focus_ = m.Control ? m.Control : editor_;
  focus_->installEventFilter(this);
  focus_->setAttribute(Qt::WA_InputMethodEnabled, true);
  editor_->show();
}

bool TXLEdit::StoreValue() {
  if (!shown_ || !cell_ || !editor_ || !editor_->UserChanged()) return true;
  TXLEditorMessage m(XLM_STORE, cell_);
  QCoreApplication::sendEvent(editor_, &m);
  if (m.isAccepted()) {
    editor_->SetUserChanged(false);
    // Totals that read the cell must not show a stale result.
    if (TXLSheet* sheet = cell_->GetSheet()) sheet->RecalcFormulas();
    return true;
  }
  // The text does not convert: say so and keep the editor on its cell.
  ShowMessageBox(editor_->TakeFailure(), Utf8ToCp936("系统提示"), MsgIcon::Error, MsgButtons::Ok, grid_);
  if (focus_) focus_->setFocus();
  return false;
}

bool TXLEdit::SetCell(TXLView* pane, TPoint pos) {
  if (pane && pane != pane_) return true;
  if (pos == pos_ && cell_) return true;
  if (!StoreValue()) return false;
  if (cell_) cell_->SetFlag(xfLinked, false);
  cell_ = nullptr;
  pos_ = pos;
  if (shown_) Load();
  return true;
}

void TXLEdit::Show(bool visible) {
  if (visible == shown_) {
    if (visible && !cell_) Load();
    return;
  }
  if (!visible) {
    if (!StoreValue()) return;
    Cancel();
    return;
  }
  shown_ = true;
  Load();
  if (grid_->OnEditModeChanged) grid_->OnEditModeChanged(grid_->Sheet(), grid_->GetCurCell());
}

void TXLEdit::Cancel() {
  const bool was = shown_;
  shown_ = false;
  browsing_ = false;
  if (editor_) editor_->SetUserChanged(false);
  if (cell_) cell_->SetFlag(xfLinked, false);
  cell_ = nullptr;
  hide();
  if (grid_->isVisible()) grid_->setFocus();
  if (was && grid_->OnEditModeChanged) grid_->OnEditModeChanged(grid_->Sheet(), grid_->GetCurCell());
}

void TXLEdit::Release() {
  if (editor_) editor_->SetUserChanged(false);
  cell_ = nullptr;
  hide();
}

void TXLEdit::Reload() {
  if (!shown_) return;
  if (cell_) cell_->SetFlag(xfLinked, false);
  cell_ = nullptr;
  Load();
}

void TXLEdit::Load() {
  if (!shown_ || !pane_ || !grid_->CanEdit(pane_, pos_)) {
    hide();
    if (shown_ && grid_->isVisible()) grid_->setFocus();
    return;
  }
  cell_ = CellAtPos(true);
  if (!cell_) return hide();
  SwitchEditor(cell_->GetEditorClass());
  if (!editor_) {
    cell_ = nullptr;
    return hide();
  }
  cell_->SetFlag(xfLinked, true);
  // Colour and font of the cell, at the grid's zoom.
  TColor color = cell_->Color();
  if (color == kDefaultColorMarker || color == clNone || color == 0x1FFFFFFF)
    color = pane_->Section()->BaseStyle()->Color();
  QPalette pal = editor_->palette();
  pal.setColor(QPalette::Base, XLQColor(color));
  pal.setColor(QPalette::Window, XLQColor(color));
  pal.setColor(QPalette::Text, XLQColor(cell_->Font().Color()));
  editor_->setPalette(pal);
  setPalette(pal);
  TFont font = cell_->Font();
  font.SetHeight(grid_->Scaled(font.Height()));
  editor_->setFont(XLQFont(font));
  button_->setFont(editor_->font());
  const TXLLayout layout = cell_->Layout();
  TXLEditorMessage align(XLM_ALIGNMENT, cell_, layout.HorzAlign, layout.Indent);
  QCoreApplication::sendEvent(editor_, &align);
  TXLEditorMessage load(XLM_LOAD, cell_);
  QCoreApplication::sendEvent(editor_, &load);
  const int result = load.isAccepted() ? int(load.Result) : 0;
  editor_->SetUserChanged(false);
  button_->SetStyle(result & 0xFF);
  button_->setVisible((result & 0xFF) != esNormal);
  pickThrough_ = (result & XLWantsCellClicks) != 0;
  vertAlign_ = layout.VertAlign;
  editorHeight_ = QFontMetrics(editor_->font()).height() + 4;
  Reposition();
  show();
  raise();
  if (focus_ && grid_->isVisible()) focus_->setFocus();
}

void TXLEdit::Reposition() {
  if (!pane_) return;
  QRect r = pane_->CellRect(pos_).adjusted(0, 0, -1, -1);
  if (grid_->HasOption(oEdit3D)) r.adjust(-2, -2, 2, 2);
  setGeometry(r);
  LayoutChildren();
}

void TXLEdit::LayoutChildren() {
  const int bw = button_->isVisibleTo(this) ? button_->width() : 0;
  const int w = std::max(0, width() - bw);
  const int h = std::min(height(), std::max(editorHeight_, 1));
  const int y = vertAlign_ == vaBottom ? height() - h : vertAlign_ == vaCenter ? (height() - h) / 2 : 0;
  // The button stands at the right edge over the host's whole height, so that a short row
  // still shows both halves of a spinner.
  if (bw) button_->setGeometry(w, 0, bw, height());
  if (!editor_) return;
  // Memos and multi-line cells use the whole height.
  if (dynamic_cast<TXLMemo*>(editor_)) editor_->setGeometry(0, 0, w, height());
  else editor_->setGeometry(0, y, w, h);
}

bool TXLEdit::CellClick(TPoint cell, Qt::KeyboardModifiers mods) {
  if (!shown_ || !pickThrough_ || !editor_ || !cell_) return false;
  Q_UNUSED(mods);
  TXLEditorMessage m(XLM_CELLCLICK, cell_, cell.X, cell.Y);
  QCoreApplication::sendEvent(editor_, &m);
  return m.isAccepted() && m.Result != 0;
}

bool TXLEdit::eventFilter(QObject* watched, QEvent* e) {
  if (watched != focus_.data()) return false;
  if (e->type() == QEvent::ShortcutOverride) return false;
  if (e->type() != QEvent::KeyPress) return false;
  auto* k = static_cast<QKeyEvent*>(e);
  const int key = k->key();
  const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
  QPointer<TXLEdit> self(this);
  bool handled = false;
  Guarded([&] {
    switch (key) {
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Home:
      case Qt::Key_End:
      case Qt::Key_Left:
      case Qt::Key_Right:
      case Qt::Key_Up:
      case Qt::Key_Down:
        if (browsing_ && !(mods & Qt::AltModifier) &&
            !(mods == Qt::ShiftModifier && dynamic_cast<TXLNumEdit*>(editor_))) {
          grid_->HandleKey(key, mods);
          handled = true;
        }
        break;
      case Qt::Key_F2:
        if (!mods) {
          browsing_ = !browsing_;
          handled = true;
        }
        break;
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
        grid_->HandleKey(key, mods);
        handled = true;
        break;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        grid_->HandleChar(QStringLiteral("\r"), mods);
        handled = true;
        break;
      case Qt::Key_Escape:
        grid_->HandleChar(QStringLiteral("\x1b"), mods);
        handled = true;
        break;
      default:
        break;
    }
  });
  return handled || !self;
}
