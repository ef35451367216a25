// The comment and sign-off frame: the reading comments others left on a document as a
// table, the current user's own comment, and the sign-off that sends it.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "control/wire/Frames.h"
#include "core/AnsiString.h"

class QTextBrowser;
class QTextEdit;
class QSplitter;
class TFlatButton;

class TFrameW : public QWidget {
  Q_OBJECT
 public:
  explicit TFrameW(QWidget* parent = nullptr);

  // Keeps the IDs and the comments and shows them.
  void LoadComments(const AnsiString& recordId, const AnsiString& tableName,
                    const std::vector<frames::CommentRecord>& comments);
  // Sends the comment as a sign-off; the window the frame sits on closes once the server
  // has taken it, and stays with the comment when it has not.
  void SendSignOff();
  // The sign-off frame for the comment as it stands.
  std::string SignOffFrame() const;

  // The last page shown (code page 936), and the text of one comment row.
  const AnsiString& Page() const { return page_; }
  // Builds the rows from the toggle's state and leaves it where the last row left it.
  static AnsiString BuildPage(const std::vector<frames::CommentRecord>& comments, bool& toggle);
  // Shows a code page 936 HTML text in a browser of the frame.
  static void ShowHtml(QTextBrowser* browser, const AnsiString& html);

  // The reply panel (own comment and "阅件签字") and its splitter; hidden where the
  // document only shows the comments.
  void SetReplyVisible(bool visible);
  bool ReplyVisible() const;

  QTextBrowser* wbReadMsg() const { return wbReadMsg_; }
  QTextEdit* rdtMsg() const { return rdtMsg_; }
  TFlatButton* btnOK() const { return btnOK_; }

 protected:
  void resizeEvent(QResizeEvent*) override;

 private:
  void splReadMsgMoved();

  QSplitter* splitter_;
  QTextBrowser* wbReadMsg_;
  QWidget* pnlReadMsg_;
  QTextEdit* rdtMsg_;
  QWidget* pnlBtn_;
  TFlatButton* btnOK_;
  AnsiString recordId_;
  AnsiString tableName_;
  std::vector<frames::CommentRecord> comments_;
  bool rowToggle_ = false;  // false: the next row is "#fafafa"
  AnsiString page_;
};
