#pragma once
// A control session of the test's own, without a page: logged in as a user, it opens the
// sample leave request and lets the test work its form.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <chrono>
#include <functional>

#include "ModalDriver.h"
#include "control/form/frm_Template.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_type.h"
#include "e2e/E2eSupport.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"
#include "platform/QtText.h"

inline constexpr const char* kLeaveRecord = "{B0000000-1111-4222-8333-444444444444}";

inline void LogInSession(TfrmMain& session, const char* name) {
  ClearSessionValues();
  session.SendLogin(name);
  ASSERT_TRUE(PumpUntil([] { return !SessionValues().UserGUID.empty(); }, 10000));
}

// Opens the leave request (a new document when newDoc) and runs act once its form is up;
// returns once the form has closed.
inline void WithLeaveForm(TfrmMain& session, bool newDoc, const std::function<void(TfrmTemplate&)>& act) {
  NewDocumentFlag() = newDoc ? 1 : 0;
  EXPECT_TRUE(ActOnceOnModal<TfrmTemplate>(
      [&] { session.SendQuery("oa", "", kLeaveRecord, 0, Utf8ToCp936("请假单"), 1, 1, "", ""); }, act,
      std::chrono::seconds(20), 25000));
}

// The grid with its current cell on the field's cell; null when there is none.
inline TXLGrid* GridOnField(TfrmTemplate& f, const char* field) {
  for (const TFieldEntry& x : f.Doc().Fields)
    if (x.name == Utf8ToCp936(field)) return f.Grid()->SetCurCell(x.col, x.row) ? f.Grid() : nullptr;
  return nullptr;
}

// What reaches the grid on the field's cell (typing opens its editor), then Enter leaves it.
inline void InputIntoField(TfrmTemplate& f, const char* field, QEvent& input) {
  TXLGrid* grid = GridOnField(f, field);
  ASSERT_NE(grid, nullptr) << field;
  QApplication::sendEvent(grid, &input);
  ASSERT_TRUE(grid->Editor()->Shown()) << field;
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QApplication::sendEvent(grid->Editor()->FocusControl(), &enter);
}

// Types text into the field's cell through the grid, as an input method commits it, and
// leaves the cell with Enter.
inline void TypeIntoField(TfrmTemplate& f, const char* field, const char* text) {
  QInputMethodEvent commit;
  commit.setCommitString(QString::fromUtf8(text));
  InputIntoField(f, field, commit);
}

// Backspace on the field's cell empties it; Enter leaves it.
inline void ClearField(TfrmTemplate& f, const char* field) {
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
  InputIntoField(f, field, back);
}
