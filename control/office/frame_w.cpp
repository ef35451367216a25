#include "control/office/frame_w.h"

#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "core/DateTime.h"
#include "platform/QtText.h"
#include "platform/Guard.h"
#include "uikit/TFlatButtonUnit.h"

namespace {


// Author names and comment texts are other people's input: they go in as text, never as
// markup. Code page 936 trail bytes are never below 0x40, so byte-wise replacing is safe.
AnsiString Escape(const AnsiString& s) {
  AnsiString out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

const char* kSeparatorRow = "<TR><TD height=1 Colspan=6 Bgcolor=#bbbbbb></TD></TR>";

AnsiString Row(const frames::CommentRecord& c, const char* colour) {
  AnsiString row = AnsiString(kSeparatorRow) + "<TR bgcolor=" + colour +
                   "><TD Width=20 height=22>&nbsp;<font color=#FF9900>" + Cp936("◆") +
                   "</font></TD><TD>" + Escape(c.authorName);
  if (c.dateTime <= 0) return row + "</TD><TD></TD><TD></TD></TR>";
  return row + "</TD><TD>" + FormatDateTime(Cp936("m\"月\"dd\"日\"  hh:nn"), c.dateTime) +
         "</TD><TD><B>" + Escape(c.text) + "</B></TD></TR>";
}

}  // namespace

TFrameW::TFrameW(QWidget* parent) : QWidget(parent) {
  resize(558, 139);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setHandleWidth(3);
  lay->addWidget(splitter_);

  wbReadMsg_ = new QTextBrowser(splitter_);
  wbReadMsg_->setObjectName("wbReadMsg");
  wbReadMsg_->setOpenLinks(false);

  pnlReadMsg_ = new QWidget(splitter_);
  auto* right = new QVBoxLayout(pnlReadMsg_);
  right->setContentsMargins(0, 0, 0, 0);
  right->setSpacing(0);
  rdtMsg_ = new QTextEdit(pnlReadMsg_);
  rdtMsg_->setObjectName("rdtMsg");
  rdtMsg_->setAcceptRichText(false);
  rdtMsg_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  right->addWidget(rdtMsg_);
  pnlBtn_ = new QWidget(pnlReadMsg_);
  pnlBtn_->setFixedHeight(25);
  right->addWidget(pnlBtn_);
  btnOK_ = new TFlatButton(pnlBtn_);
  btnOK_->setObjectName("btnOK");
  btnOK_->SetCaption(QString::fromUtf8("阅件签字"));
  btnOK_->SetColor(10345450);
  btnOK_->SetColorFocused(11295231);
  btnOK_->SetColorDown(13553367);
  btnOK_->resize(75, 23);
  // Signing off closes the window the frame sits on once the server has the comment.
  btnOK_->OnClick = [this](QObject*) { Guarded([&] { SendSignOff(); }); };
  splitter_->setStretchFactor(0, 1);
  splitter_->setSizes({558 - 222 - 3, 222});
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { splReadMsgMoved(); });
}

void TFrameW::resizeEvent(QResizeEvent*) { splReadMsgMoved(); }

// A splitter hides the handle of a hidden widget with it.
void TFrameW::SetReplyVisible(bool visible) { pnlReadMsg_->setVisible(visible); }

bool TFrameW::ReplyVisible() const { return !pnlReadMsg_->isHidden(); }

void TFrameW::splReadMsgMoved() {
  btnOK_->move(pnlBtn_->width() - btnOK_->width() - 5, 1);
}

AnsiString TFrameW::BuildPage(const std::vector<frames::CommentRecord>& comments, bool& toggle) {
  AnsiString rows;
  for (const auto& c : comments) {
    rows += Row(c, toggle ? "#EEFFDD" : "#fafafa");
    toggle = !toggle;
  }
  rows += kSeparatorRow;
  AnsiString table =
      AnsiString("<TABLE border=0 cellPadding=0 cellSpacing=0 Width=\"100%\"><TR vAlign=top>"
                 "<TD class=p9 width=\"100%\"><TABLE border=0 cellPadding=2 cellSpacing=0 "
                 "width=\"100%\"><TR><TD height=1 Colspan=6 Bgcolor=#bbbbbb></TD></TR>"
                 "<TR Height=22 bgcolor=#F1F1F1><TD width=20></TD><TD width=180><B>") +
      Cp936("参阅人员") + "</B></TD><TD width=100><B>" + Cp936("阅读日期") + "</B></TD><TD><B>" +
      Cp936("意见") +
      "</B></TD></TR><TR><TD height=1 Colspan=6 Bgcolor=#555555></TD></TR>" + rows +
      "</TABLE></TD></TR></TABLE>";
  AnsiString head =
      "<Html><Head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=2312\">"
      "<Title></Title><Style>"
      "body,td{font-size:9pt;color:#000000}"
      ".p10{font-size:10.5pt;line-height:16pt}"
      "a:link,a:visited{color:#303030;text-decoration:none}"
      "a:hover{color:#FF0088}"
      "a:active{color:blue}"
      "body{background-color:#FFFFFF;margin-top:0;margin-left:0}"
      "</Style></Head><Body>";
  return head + table + "</Body></Html>";
}

void TFrameW::ShowHtml(QTextBrowser* browser, const AnsiString& html) {
  if (browser) browser->setHtml(ToQString(html));
}

void TFrameW::LoadComments(const AnsiString& recordId, const AnsiString& tableName,
                           const std::vector<frames::CommentRecord>& comments) {
  recordId_ = recordId;
  tableName_ = tableName;
  comments_ = comments;
  const AnsiString& me = SessionValues().UserGUID;
  for (const auto& c : comments_)
    if (!me.empty() && c.authorId == me) rdtMsg_->setPlainText(ToQString(c.text));
  page_ = BuildPage(comments_, rowToggle_);
  ShowHtml(wbReadMsg_, page_);
}

std::string TFrameW::SignOffFrame() const {
  // What leaves a multi-line edit is CR LF, as the server stores it.
  QString text = rdtMsg_->toPlainText();
  text.replace("\n", "\r\n");
  AnsiString comment = ToAnsi(text);
  return frames::BuildSignOffRequest(SessionValues().UserGUID, tableName_, recordId_, comment);
}

void TFrameW::SendSignOff() {
  std::string frame = SignOffFrame();
  auto signedOff = [](TFrameW* self) {
    SetPendingDoit(self->tableName_, self->recordId_);
    if (QWidget* host = self->window(); host && host != self) host->close();
  };
  TfrmMain* session = frmMain();
  if (!session) {
    signedOff(this);
    return;
  }
  // The window closes once the server has the comment; until then it stays as it is.
  btnOK_->setEnabled(false);
  const QPointer<TFrameW> self(this);
  session->SendToServer(std::move(frame), [self, signedOff](TRequestEnd end, const std::string& reply) {
    if (!self) return;
    self->btnOK_->setEnabled(true);
    // Not taken: the comment stays in its box; the person has been told why.
    if (end != TRequestEnd::Replied || !frames::IsAcceptedReply(reply)) return;
    // After the reply's own handling.
    QTimer::singleShot(0, self, GuardSlot([self, signedOff] {
                         if (self) signedOff(self);
                       }));
  });
}
