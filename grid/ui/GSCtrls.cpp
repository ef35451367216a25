#include "grid/ui/GSCtrls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <vector>

#include "core/Exception.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"

// ---- pure helpers ----

bool RepeatStep(int& counter, bool fast) {
  ++counter;
  if (counter < 20) return counter % 5 == 0;
  if (counter < (fast ? 50 : 200)) return counter % 2 == 0;
  return true;
}

bool HasOption(AnsiString& letters, char letter) {
  const char want = char(std::tolower(uint8_t(letter)));
  for (size_t i = 0; i < letters.size(); ++i)
    if (char(std::tolower(uint8_t(letters[i]))) == want) {
      letters.erase(i, 1);
      return true;
    }
  return false;
}

int AmPm(std::string_view token, const TFormatSettings& fs) {
  const AnsiString t = UpperCase(token);
  if (t.empty()) return 0;
  if ((!fs.TimeAMString.empty() && t == UpperCase(fs.TimeAMString)) || t == "AM" || t == "A") return -1;
  if ((!fs.TimePMString.empty() && t == UpperCase(fs.TimePMString)) || t == "PM" || t == "P") return 1;
  return 0;
}

namespace {

struct TToken {
  bool Digits;
  AnsiString Text;
};

// Runs of digits or of letters (bytes of double-byte text count as letters).
std::vector<TToken> Tokens(std::string_view text) {
  std::vector<TToken> out;
  auto kind = [](uint8_t c) { return std::isdigit(c) ? 1 : (std::isalpha(c) || c >= 0x80) ? 2 : 0; };
  for (size_t i = 0; i < text.size();) {
    const int k = kind(uint8_t(text[i]));
    if (!k) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && kind(uint8_t(text[j])) == k) ++j;
    out.push_back({k == 1, AnsiString(text.substr(i, j - i))});
    i = j;
  }
  return out;
}

// Field letters of a format, each once, in order of first appearance.
AnsiString FieldOrder(const AnsiString& format, std::string_view letters) {
  AnsiString order;
  for (char c : format) {
    const char u = char(std::toupper(uint8_t(c)));
    if (letters.find(u) != std::string_view::npos && order.find(u) == AnsiString::npos) order += u;
  }
  for (char c : letters)
    if (order.find(c) == AnsiString::npos) order += c;
  return order;
}

constexpr std::array<const char*, 12> kEnglishMonths = {"January", "February", "March",     "April",
                                                        "May",     "June",     "July",      "August",
                                                        "September", "October", "November", "December"};

int MonthByName(const AnsiString& token, const TFormatSettings& fs) {
  const AnsiString t = UpperCase(token);
  for (int m = 0; m < 12; ++m) {
    const AnsiString english = kEnglishMonths[size_t(m)];
    if (t == UpperCase(english) || t == UpperCase(english.substr(0, 3))) return m + 1;
    if (!fs.LongMonthNames[size_t(m)].empty() && t == UpperCase(fs.LongMonthNames[size_t(m)])) return m + 1;
    if (!fs.ShortMonthNames[size_t(m)].empty() && t == UpperCase(fs.ShortMonthNames[size_t(m)])) return m + 1;
  }
  return 0;
}

[[noreturn]] void BadDate(std::string_view text) {
  throw EConvertError("'" + AnsiString(text) + "' is not a valid date");
}

}  // namespace

TDateTime ParseDate(std::string_view text, const TFormatSettings& fs, TDateTime today) {
  if (Trim(text).empty()) return 0;
  AnsiString order = FieldOrder(fs.ShortDateFormat, "DMY");
  int year, month, day;
  DecodeDate(today, year, month, day);
  int numbers = 0;
  for (const TToken& tok : Tokens(text)) {
    if (!tok.Digits) {
      if (const int m = MonthByName(tok.Text, fs)) {
        month = m;
        if (auto at = order.find('M'); at != AnsiString::npos) order.erase(at, 1);
      }
      continue;
    }
    if (numbers == 3 || order.empty()) continue;
    ++numbers;
    if (tok.Text.size() > 9) BadDate(text);
    const int n = std::stoi(tok.Text);
    char field = order[0];
    if (n >= 1000) field = 'Y';
    else if (n > 12 && field == 'M') field = 'D';
    if (field == 'Y') year = n < 100 && tok.Text.size() <= 2 ? (n < 50 ? 2000 + n : 1900 + n) : n;
    else if (field == 'M') month = n;
    else day = n;
    if (auto at = order.find(field); at != AnsiString::npos) order.erase(at, 1);
  }
  if (month > 12) {
    if (day <= 12) std::swap(month, day);
    else month = 1;
  }
  TDateTime out;
  if (month < 1 || day < 1 || !TryEncodeDate(year, month, day, out)) BadDate(text);
  return out;
}

TDateTime ParseTime(std::string_view text, const TFormatSettings& fs) {
  if (Trim(text).empty()) return 0;
  // "m" in a time format means minutes, as "n" does.
  AnsiString format = fs.LongTimeFormat;
  for (char& c : format)
    if (c == 'm' || c == 'M') c = 'n';
  const AnsiString order = FieldOrder(format, "HNSZ");
  int parts[4] = {0, 0, 0, 0};  // H N S Z
  int next = 0, ampm = 0;
  for (const TToken& tok : Tokens(text)) {
    if (!tok.Digits) {
      if (const int a = AmPm(tok.Text, fs)) ampm = a;
      continue;
    }
    if (next >= int(order.size()) || tok.Text.size() > 4) continue;
    const size_t slot = std::string_view("HNSZ").find(order[size_t(next++)]);
    parts[slot] = std::stoi(tok.Text);
  }
  if (ampm && parts[0] <= 12) parts[0] = parts[0] % 12 + (ampm > 0 ? 12 : 0);
  TDateTime out;
  if (!TryEncodeTime(parts[0], parts[1], parts[2], parts[3], out))
    throw EConvertError("'" + AnsiString(text) + "' is not a valid time");
  return out;
}

QPoint PopupPlacement(const QRect& anchor, const QSize& size, const QSize& screen, int alignment) {
  const int w = size.width(), h = size.height();
  const int left = anchor.left(), right = anchor.left() + anchor.width();
  int x = alignment == 0 ? left : alignment == 1 ? right - w : (left + right - w) / 2;
  int y = anchor.top() + anchor.height();
  if (x + w > screen.width()) x = right - w;
  if (y + h > screen.height()) y = anchor.top() - h;
  return QPoint(std::max(0, x), std::max(0, y));
}

int LocaleFirstDayOfWeek() { return int(QLocale().firstDayOfWeek()) - 1; }

// ---- pop-up panel ----

TGSPopupPanel::TGSPopupPanel(QWidget* owner) : QWidget(owner, Qt::Popup) {
  setAttribute(Qt::WA_ShowWithoutActivating, false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(236, 233, 216));
  setPalette(pal);
}

void TGSPopupPanel::SetContent(QWidget* content) {
  content_ = content;
  content->setParent(this);
  layout()->addWidget(content);
}

bool TGSPopupPanel::Popup(QWidget* control, int alignment) {
  if (isVisible()) return false;
  if (OnPopup) OnPopup();
  returnFocus_ = QApplication::focusWidget();
  adjustSize();
  const QRect anchor(control->mapToGlobal(QPoint(0, 0)), control->size());
  const QScreen* screen = control->screen();
  const QSize area = screen ? screen->geometry().size() : QSize(1 << 20, 1 << 20);
  move(PopupPlacement(anchor, size(), area, alignment));
  show();
  if (content_) content_->setFocus();
  return true;
}

void TGSPopupPanel::ClosePopup() {
  QCoreApplication::postEvent(this, new QEvent(QEvent::Type(GSM_POPUPCLOSE)));
}

bool TGSPopupPanel::event(QEvent* e) {
  if (e->type() == QEvent::Type(GSM_POPUPCLOSE)) {
    hide();
    return true;
  }
  return QWidget::event(e);
}

void TGSPopupPanel::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    hide();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TGSPopupPanel::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  QPointer<TGSPopupPanel> self(this);
  if (OnClose) Guarded([&] { OnClose(); });
  if (self && returnFocus_) returnFocus_->setFocus();
}

// ---- calendar ----

TGSCalendar::TGSCalendar(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  shownMonth_ = ::Date();
  int y, m, d;
  DecodeDate(shownMonth_, y, m, d);
  shownMonth_ = EncodeDate(y, m, 1);
  resize(sizeHint());
  Layout();
}

QSize TGSCalendar::sizeHint() const {
  const QFontMetrics fm(font());
  const int dw = fm.horizontalAdvance(QLatin1Char('0')), th = fm.height();
  int w = (2 * dw + 5) * 7 + 4 * dw + 4;
  int h = 4;
  if (styles_ & (1 << csYear | 1 << csMonth)) h += th + 5;
  if (styles_ & (1 << csDays)) h += 6 * (th + 2) + 1;
  if (styles_ & (1 << csDaysOfWeek)) h += th + 2 + 1;
  const bool today = styles_ & (1 << csToday), none = styles_ & (1 << csNone);
  if (today || none) h += th + 17;
  const int widest = std::max(fm.horizontalAdvance(TextToday), fm.horizontalAdvance(TextNone));
  if (today && none) w = std::max(w, 2 * widest + 5 + 4);
  else if (today || none) w = std::max(w, widest + 4);
  return QSize(w, h);
}

void TGSCalendar::Layout() {
  const QFontMetrics fm(font());
  const int th = fm.height();
  QRect r = rect().adjusted(2, 2, -2, -2);
  for (QRect& z : zones_) z = QRect();
  if (styles_ & (1 << csYear | 1 << csMonth)) {
    zones_[0] = QRect(r.left(), r.top(), r.width(), th + 5);
    if (styles_ & (1 << csArrows)) {
      zones_[1] = QRect(r.left(), r.top(), th + 5, th + 5);
      zones_[2] = QRect(r.right() - th - 4, r.top(), th + 5, th + 5);
    }
    r.setTop(r.top() + th + 5);
  }
  if (styles_ & (1 << csToday | 1 << csNone)) {
    const int bh = th + 8, by = r.bottom() - bh - 3;
    const bool both = (styles_ & (1 << csToday)) && (styles_ & (1 << csNone));
    const int bw = both ? (r.width() - 5) / 2 : r.width();
    if (styles_ & (1 << csToday)) zones_[6] = QRect(r.left(), by, bw, bh);
    if (styles_ & (1 << csNone)) zones_[7] = QRect(both ? r.left() + bw + 5 : r.left(), by, bw, bh);
    r.setBottom(r.bottom() - th - 17);
  }
  if (styles_ & (1 << csDaysOfWeek)) {
    zones_[4] = QRect(r.left(), r.top(), r.width(), th + 2);
    r.setTop(r.top() + th + 3);
  }
  if (styles_ & (1 << csDays)) zones_[3] = r;
  cellW_ = std::max(1, r.width() / 7);
  cellH_ = std::max(1, (r.height() - 1) / 6);
}

void TGSCalendar::SetDate(TDateTime v) {
  if (v == date_) return;
  date_ = v;
  if (!Empty()) {
    int y, m, d;
    DecodeDate(date_, y, m, d);
    shownMonth_ = EncodeDate(y, m, 1);
  }
  update();
}

void TGSCalendar::SetEmpty(bool v) {
  if (v == Empty()) return;
  if (v) SetDate(0);
  else SetDate(::Date() + (date_ - std::floor(date_)));
}

void TGSCalendar::SetStyles(TGSCalendarStyles v) {
  if (v == styles_) return;
  styles_ = v;
  resize(sizeHint());
  Layout();
  update();
}

TDateTime TGSCalendar::FirstShown() const {
  // DayOfWeek: 1 Sunday .. 7 Saturday; as 0 Monday .. 6 Sunday:
  const int dow = (DayOfWeek(shownMonth_) + 5) % 7;
  int back = (dow - LocaleFirstDayOfWeek() + 7) % 7;
  if (back == 0) back = 7;  // a row of the previous month always leads
  return shownMonth_ - back;
}

QRect TGSCalendar::DayRect(TDateTime day) const {
  const int i = int(std::floor(day) - FirstShown());
  if (i < 0 || i >= 42) return QRect();
  const QRect& g = zones_[3];
  return QRect(g.left() + (i % 7) * cellW_, g.top() + (i / 7) * cellH_, cellW_, cellH_);
}

int TGSCalendar::ZoneAt(QPoint p) const {
  for (int z : {1, 2, 0, 3, 4, 6, 7})
    if (zones_[z].contains(p)) return z;
  return 5;
}

TDateTime TGSCalendar::DayAt(QPoint p, bool& ok) const {
  const QRect& g = zones_[3];
  ok = false;
  if (!g.contains(p)) return 0;
  const int col = std::min(6, (p.x() - g.left()) / cellW_), row = std::min(5, (p.y() - g.top()) / cellH_);
  const TDateTime day = FirstShown() + row * 7 + col;
  int y, m, d, sy, sm, sd;
  DecodeDate(day, y, m, d);
  DecodeDate(shownMonth_, sy, sm, sd);
  ok = (m == sm && y == sy) || (styles_ & (1 << csRestDays));
  return day;
}

namespace {
// First of the month `months` away from the month of first.
TDateTime AddMonths(TDateTime first, int months) {
  int y, m, d;
  DecodeDate(first, y, m, d);
  const int index = y * 12 + (m - 1) + months;
  return EncodeDate(index / 12, index % 12 + 1, 1);
}
}  // namespace

TDateTime TGSCalendar::Base() const { return Empty() ? ::Date() : date_; }

void TGSCalendar::StepMonth(int delta) {
  shownMonth_ = AddMonths(shownMonth_, delta);
  update();
}

void TGSCalendar::SetDayKeepingTime(TDateTime day) {
  const TDateTime time = date_ - std::floor(date_);
  SetDate(std::floor(day) + time);
}

void TGSCalendar::Changed() {
  if (OnChange) Guarded([&] { OnChange(); });
}

void TGSCalendar::Click() {
  if (OnClick) Guarded([&] { OnClick(); });
}

void TGSCalendar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor shadow(172, 168, 153), face(236, 233, 216);
  p.setPen(shadow);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  const QLocale locale;
  if (!zones_[0].isEmpty()) {
    p.fillRect(zones_[0], face);
    p.setPen(Qt::black);
    int y, m, d;
    DecodeDate(shownMonth_, y, m, d);
    QString title = locale.standaloneMonthName(m);
    if (styles_ & (1 << csYear)) title += QLatin1Char(' ') + QString::number(y);
    p.drawText(zones_[0], Qt::AlignCenter, title);
    for (int z : {1, 2}) {
      if (zones_[z].isEmpty()) continue;
      const QRect a = zones_[z].adjusted(4, 4, -4, -4);
      const int cx = a.center().x(), cy = a.center().y(), s = std::min(a.width(), a.height()) / 2;
      QPolygon poly;
      if (z == 1) poly << QPoint(cx - s / 2, cy) << QPoint(cx + s / 2, cy - s) << QPoint(cx + s / 2, cy + s);
      else poly << QPoint(cx + s / 2, cy) << QPoint(cx - s / 2, cy - s) << QPoint(cx - s / 2, cy + s);
      p.setBrush(Qt::black);
      p.drawPolygon(poly);
    }
  }
  const int first = LocaleFirstDayOfWeek();
  if (!zones_[4].isEmpty()) {
    p.setPen(Qt::black);
    for (int i = 0; i < 7; ++i) {
      const QRect c(zones_[4].left() + i * cellW_, zones_[4].top(), cellW_, zones_[4].height());
      p.drawText(c, Qt::AlignCenter, locale.dayName((first + i) % 7 + 1, QLocale::ShortFormat).left(2));
    }
    p.setPen(shadow);
    p.drawLine(zones_[4].left(), zones_[4].bottom() + 1, zones_[4].right(), zones_[4].bottom() + 1);
  }
  if (!zones_[3].isEmpty()) {
    int sy, sm, sd;
    DecodeDate(shownMonth_, sy, sm, sd);
    const TDateTime start = FirstShown(), today = ::Date();
    for (int i = 0; i < 42; ++i) {
      const TDateTime day = start + i;
      int y, m, d;
      DecodeDate(day, y, m, d);
      const bool own = m == sm && y == sy;
      if (!own && !(styles_ & (1 << csRestDays))) continue;
      const QRect c = DayRect(day);
      const bool selected = !Empty() && std::floor(date_) == day;
      if (selected) p.fillRect(c, face);
      p.setPen(own ? QColor(Qt::black) : shadow);
      p.drawText(c, Qt::AlignCenter, QString::number(d));
      if (day == today) {
        p.setPen(QColor(128, 0, 0));  // maroon
        p.setBrush(Qt::NoBrush);
        p.drawRect(c.adjusted(0, 0, -1, -1));
      }
    }
  }
  for (int z : {6, 7}) {
    if (zones_[z].isEmpty()) continue;
    const bool down = pressed_ == z;
    p.fillRect(zones_[z], face);
    p.setPen(down ? shadow : QColor(Qt::white));
    p.drawLine(zones_[z].topLeft(), zones_[z].topRight());
    p.drawLine(zones_[z].topLeft(), zones_[z].bottomLeft());
    p.setPen(down ? QColor(Qt::white) : QColor(113, 111, 100));
    p.drawLine(zones_[z].bottomLeft(), zones_[z].bottomRight());
    p.drawLine(zones_[z].topRight(), zones_[z].bottomRight());
    p.setPen(Qt::black);
    p.drawText(zones_[z], Qt::AlignCenter, z == 6 ? TextToday : TextNone);
  }
}

void TGSCalendar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  pressed_ = ZoneAt(e->position().toPoint());
  pointer_ = e->globalPosition().toPoint();
  if (pressed_ == 0) {
    monthList_ = new TGSMonthList(this, shownMonth_);
    monthList_->show();
    monthList_->Track(pointer_);
    timer_ = startTimer(50);
  } else if (pressed_ == 1 || pressed_ == 2) {
    repeat_ = -1;
    if (RepeatStep(repeat_, false)) StepMonth(pressed_ == 1 ? -1 : 1);
    timer_ = startTimer(50);
  }
  update();
}

void TGSCalendar::mouseMoveEvent(QMouseEvent* e) {
  pointer_ = e->globalPosition().toPoint();
  if (monthList_) monthList_->Track(pointer_);
  if (pressed_ != 3) return;
  bool ok;
  const TDateTime day = DayAt(e->position().toPoint(), ok);
  if (!ok || (!Empty() && std::floor(date_) == day)) return;
  SetDayKeepingTime(day);
  Changed();
}

void TGSCalendar::StopPress() {
  if (timer_) killTimer(timer_);
  timer_ = 0;
  delete monthList_.data();
}

void TGSCalendar::hideEvent(QHideEvent* e) {
  StopPress();
  pressed_ = -1;
  QWidget::hideEvent(e);
}

void TGSCalendar::mouseReleaseEvent(QMouseEvent* e) {
  const TDateTime month = monthList_ ? monthList_->Hot() : 0;
  StopPress();
  const int zone = ZoneAt(e->position().toPoint());
  const int pressed = std::exchange(pressed_, -1);
  update();
  if (month != 0) {
    // With days on show the calendar only turns to the month; otherwise the month is the date.
    if (styles_ & (1 << csDays)) {
      shownMonth_ = month;
      return;
    }
    SetDate(month + (date_ - std::floor(date_)));
    Click();
    return;
  }
  if (zone != pressed) return;
  if (zone == 3) {
    bool ok;
    const TDateTime day = DayAt(e->position().toPoint(), ok);
    if (!ok) return;
    SetDayKeepingTime(day);
  } else if (zone == 6) {
    SetEmpty(false);
    SetDayKeepingTime(::Date());
  } else if (zone == 7) {
    SetEmpty(true);
  } else {
    return;
  }
  QPointer<TGSCalendar> self(this);
  Changed();
  if (self) Click();
}

void TGSCalendar::timerEvent(QTimerEvent* e) {
  if (e->timerId() != timer_) return QWidget::timerEvent(e);
  if (pressed_ == 0 && monthList_) monthList_->Tick(pointer_);
  if ((pressed_ == 1 || pressed_ == 2) && zones_[pressed_].contains(mapFromGlobal(pointer_)) &&
      RepeatStep(repeat_, false))
    StepMonth(pressed_ == 1 ? -1 : 1);
}

// ---- month list ----

TGSMonthList::TGSMonthList(TGSCalendar* calendar, TDateTime centre)
    : QWidget(calendar, Qt::ToolTip | Qt::FramelessWindowHint), centre_(centre) {
  // A tool window never takes the activation, so the calendar keeps the mouse.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFont(calendar->font());
  const QFontMetrics fm(font());
  rowHeight_ = fm.height() + 2;
  int width = 0;
  for (int m = 1; m <= 12; ++m)
    width = std::max(width, fm.horizontalAdvance(ToQString(FormatDateTime("mmmm yyyy", EncodeDate(2000, m, 1)))));
  resize(width + 16, 7 * rowHeight_ + 2);
  // The centre row lies over the middle of the title.
  const QPoint title = calendar->mapToGlobal(QPoint(calendar->width() / 2, 2 + (fm.height() + 5) / 2));
  move(title.x() - this->width() / 2, title.y() - height() / 2);
}

TDateTime TGSMonthList::RowMonth(int row) const { return AddMonths(centre_, row - 3); }

void TGSMonthList::Track(QPoint global) {
  const QPoint p = mapFromGlobal(global);
  const int row = p.y() >= 1 ? (p.y() - 1) / rowHeight_ : -1;
  const TDateTime hot = rect().contains(p) && row >= 0 && row < 7 ? RowMonth(row) : 0;
  if (hot == hot_) return;
  hot_ = hot;
  update();
}

void TGSMonthList::Tick(QPoint global) {
  const int y = mapFromGlobal(global).y();
  const int distance = y < 0 ? -y : y >= height() ? y - height() + 1 : 0;
  if (distance == 0) {
    delay_ = 0;
    return;
  }
  if (delay_ > 0) {
    --delay_;
    return;
  }
  centre_ = AddMonths(centre_, y < 0 ? -1 : 1);
  delay_ = std::max(0, 5 - distance / 10);
  update();
}

void TGSMonthList::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(Qt::black);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  for (int row = 0; row < 7; ++row) {
    const QRect r(1, 1 + row * rowHeight_, width() - 2, rowHeight_);
    const TDateTime month = RowMonth(row);
    const bool hot = month == hot_;
    if (hot) p.fillRect(r, Qt::black);
    p.setPen(hot ? Qt::white : Qt::black);
    p.drawText(r, Qt::AlignCenter, ToQString(FormatDateTime("mmmm yyyy", month)));
    if (hot) {
      QPen dots(Qt::white, 1, Qt::DotLine);
      p.setPen(dots);
      p.drawRect(r.adjusted(0, 0, -1, -1));
    }
  }
}

void TGSCalendar::keyPressEvent(QKeyEvent* e) {
  if (e->modifiers() & ~Qt::KeypadModifier) return QWidget::keyPressEvent(e);
  const TDateTime base = Base();
  int y, m, d;
  DecodeDate(base, y, m, d);
  TDateTime day = -1;
  const bool days = styles_ & (1 << csDays), months = styles_ & (1 << csMonth);
  switch (e->key()) {
    case Qt::Key_Left: if (days) day = base - 1; break;
    case Qt::Key_Right: if (days) day = base + 1; break;
    case Qt::Key_Up: if (days) day = base - 7; break;
    case Qt::Key_Down: if (days) day = base + 7; break;
    case Qt::Key_Home: if (days) day = EncodeDate(y, m, 1); break;
    case Qt::Key_End: if (days) day = EncodeDate(y, m, DaysInMonth(y, m)); break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (months) {
        int ny = y, nm = m + (e->key() == Qt::Key_PageUp ? -1 : 1);
        if (nm < 1) nm = 12, --ny;
        if (nm > 12) nm = 1, ++ny;
        day = EncodeDate(ny, nm, std::min(d, DaysInMonth(ny, nm)));
      }
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Click();
      return;
    default:
      return QWidget::keyPressEvent(e);
  }
  if (day < 0) return;
  if (Empty()) date_ = std::floor(::Date());
  SetDayKeepingTime(day);
  Changed();
}

// ---- pick list ----

TGSPickList::TGSPickList(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setCompleter(nullptr);
  setFrame(false);
  lineEdit()->installEventFilter(this);
}

void TGSPickList::setEditable(bool editable) {
  QComboBox::setEditable(editable);
  if (editable && lineEdit()) lineEdit()->installEventFilter(this);
}

bool TGSPickList::KeyDown(QKeyEvent* e) {
  const bool listClosed = !view()->isVisible();
  if (listClosed && (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) && !(e->modifiers() & Qt::ShiftModifier))
    return true;  // the grid moves the current cell instead
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    if (OnClick) Guarded([&] { OnClick(); });
    return false;
  }
  const QString t = e->text();
  if (isEditable() && !t.isEmpty() && t[0].isPrint() && e->key() != Qt::Key_Backspace)
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(GSM_PICKCOMPLETE)));
  return false;
}

bool TGSPickList::eventFilter(QObject* watched, QEvent* e) {
  if (watched == lineEdit() && e->type() == QEvent::KeyPress) return KeyDown(static_cast<QKeyEvent*>(e));
  return QComboBox::eventFilter(watched, e);
}

void TGSPickList::keyPressEvent(QKeyEvent* e) {
  if (KeyDown(e)) {
    e->ignore();
    return;
  }
  QComboBox::keyPressEvent(e);
}

bool TGSPickList::event(QEvent* e) {
  if (e->type() == QEvent::Type(GSM_PICKCOMPLETE)) {
    Complete();
    return true;
  }
  return QComboBox::event(e);
}

void TGSPickList::Complete() {
  QLineEdit* edit = lineEdit();
  if (!edit) return;
  const QString typed = edit->text().left(edit->cursorPosition());
  if (typed.isEmpty()) return;
  const int i = findText(typed, Qt::MatchStartsWith);
  if (i < 0) return;
  const QString item = itemText(i);
  edit->setText(item);
  edit->setSelection(typed.size(), item.size() - typed.size());
}
