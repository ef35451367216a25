#pragma once
// The controls the in-place editors open: a pop-up panel, a month calendar, a completing
// pick list, and the date/time text parsers and repeat counter that editors and glyph
// buttons share.
#include <QComboBox>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string_view>

#include "core/AnsiString.h"
#include "core/DateTime.h"

// Private messages of the pop-ups (their numbers are fixed).
enum : int {
  GSM_POPUPCLOSE = 18209,
  GSM_PICKCOMPLETE = 34661,
};

// ---- pure helpers ----

// Advances the repeat counter; true when an auto-repeat action is due: every 5th count
// below 20, then every even count up to 50 (fast) or 200 (slow), then every count.
bool RepeatStep(int& counter, bool fast);
// True when the letter occurs in letters (either case); the letter is removed.
bool HasOption(AnsiString& letters, char letter);
// -1 for an AM token, 1 for PM, 0 otherwise.
int AmPm(std::string_view token, const TFormatSettings& fs = DefaultFormatSettings());
// A date typed by a person, fields in the short date format's order; blank gives 0. A day
// or month that names no real date raises EConvertError rather than rolling over.
TDateTime ParseDate(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings(),
                    TDateTime today = Date());
// A time of day (fraction of a day) in the long time format's order, with AM/PM.
TDateTime ParseTime(std::string_view text, const TFormatSettings& fs = DefaultFormatSettings());
// Where a pop-up of size opens under anchor (screen coordinates) inside screen:
// alignment 0 left edges, 1 right edges, otherwise centred.
QPoint PopupPlacement(const QRect& anchor, const QSize& size, const QSize& screen, int alignment);
// First day of the week of the locale: 0 Monday .. 6 Sunday.
int LocaleFirstDayOfWeek();

// ---- pop-up panel ----

// A top-level pop-up window holding its content; closes on Escape, on a click outside it
// and on its private close message.
class TGSPopupPanel : public QWidget {
 public:
  explicit TGSPopupPanel(QWidget* owner);
  // Opens under control; false when already open.
  bool Popup(QWidget* control, int alignment = 0);
  void ClosePopup();
  bool IsOpen() const { return isVisible(); }
  void SetContent(QWidget* content);

  std::function<void()> OnPopup, OnClose;

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  QPointer<QWidget> content_;
  QPointer<QWidget> returnFocus_;
};

// ---- calendar ----

enum TGSCalendarStyle : uint8_t { csYear, csMonth, csArrows, csDays, csDaysOfWeek, csRestDays, csToday, csNone };
using TGSCalendarStyles = uint8_t;
constexpr TGSCalendarStyles GSAllCalendarStyles = 0xFF;

class TGSMonthList;

class TGSCalendar : public QWidget {
 public:
  explicit TGSCalendar(QWidget* parent = nullptr);

  TDateTime Date() const { return date_; }
  void SetDate(TDateTime v);
  bool Empty() const { return int64_t(date_) == 0; }
  void SetEmpty(bool v);
  TGSCalendarStyles Styles() const { return styles_; }
  void SetStyles(TGSCalendarStyles v);
  QString TextToday = QStringLiteral("Today");
  QString TextNone = QStringLiteral("None");

  // Zones: 0 title, 1 previous month, 2 next month, 3 days, 4 days of week, 5 nowhere,
  // 6 Today, 7 None.
  int ZoneAt(QPoint p) const;
  // The day cell that shows a date of the displayed month grid.
  QRect DayRect(TDateTime day) const;
  TDateTime FirstShown() const;
  // The month chooser, open while a button is held on the title; nullptr otherwise.
  TGSMonthList* MonthList() const { return monthList_; }

  std::function<void()> OnChange;
  std::function<void()> OnClick;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  void resizeEvent(QResizeEvent*) override { Layout(); }
  void hideEvent(QHideEvent* e) override;

 private:
  void Layout();
  TDateTime Base() const;
  void StepMonth(int delta);
  void SetDayKeepingTime(TDateTime day);
  TDateTime DayAt(QPoint p, bool& ok) const;
  void Changed();
  void Click();
  void StopPress();

  TDateTime date_ = 0;
  TDateTime shownMonth_ = 0;  // first of the month on show
  TGSCalendarStyles styles_ = GSAllCalendarStyles;
  QRect zones_[8];
  int cellW_ = 0, cellH_ = 0;
  int pressed_ = -1;
  int repeat_ = -1;
  int timer_ = 0;
  QPoint pointer_;  // where the held button's pointer is (global)
  QPointer<TGSMonthList> monthList_;
};

// Seven months around a centre month, shown over the calendar's title; the row under the
// pointer is the month chosen on release. A pointer above or below scrolls it, faster the
// farther away it is.
class TGSMonthList : public QWidget {
 public:
  TGSMonthList(TGSCalendar* calendar, TDateTime centre);
  TDateTime Centre() const { return centre_; }
  // The month under the pointer (its first day), 0 for none.
  TDateTime Hot() const { return hot_; }
  int RowHeight() const { return rowHeight_; }
  // The pointer moved to global.
  void Track(QPoint global);
  // A timer tick with the pointer at global.
  void Tick(QPoint global);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  TDateTime RowMonth(int row) const;
  TDateTime centre_;
  TDateTime hot_ = 0;
  int rowHeight_;
  int delay_ = 0;
};

// ---- pick list ----

// An editable combo box that completes typed text from its items.
class TGSPickList : public QComboBox {
 public:
  explicit TGSPickList(QWidget* parent = nullptr);
  void setEditable(bool editable);
  std::function<void()> OnClick;

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  // True when the key is swallowed; a typed character asks for completion afterwards.
  bool KeyDown(QKeyEvent* e);
  void Complete();
};
