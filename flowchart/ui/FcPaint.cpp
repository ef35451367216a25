#include "flowchart/ui/FcPaint.h"

#include "platform/QtText.h"

QColor FcColor(TColor c) {
  TColor rgb = ColorToRGB(c);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QFont FcQFont(const TFcFont& f) {
  QFont q(ToQString(f.Name));
  q.setPixelSize(std::max(1, f.Height < 0 ? -f.Height : f.Height));
  q.setBold(f.Style & 1);
  q.setItalic(f.Style & 2);
  q.setUnderline(f.Style & 4);
  q.setStrikeOut(f.Style & 8);
  return q;
}

Qt::PenStyle FcPenStyle(uint8_t s) {
  switch (s) {
    case 1: return Qt::DashLine;
    case 2: return Qt::DotLine;
    case 3: return Qt::DashDotLine;
    case 4: return Qt::DashDotDotLine;
    case 5: return Qt::NoPen;
    default: return Qt::SolidLine;
  }
}

namespace {

constexpr TColor kHighlight = clBtnHighlight;
constexpr TColor kShadow = clBtnShadow;
constexpr TColor kDkShadow = cl3DDkShadow;
constexpr TColor kLight = cl3DLight;
constexpr TColor kFace = clBtnFace;

// One ring of the edge: top-left and bottom-right colours on the flagged sides.
void Ring(QPainter& p, QRect& r, QColor tl, QColor br, uint16_t flags) {
  if (r.width() <= 0 || r.height() <= 0) return;
  if (flags & BF_DIAGONAL) {
    p.setPen(tl);
    if (flags & (BF_LEFT | BF_BOTTOM)) p.drawLine(r.bottomLeft(), r.topRight());
    return;
  }
  if (flags & BF_TOP) p.fillRect(r.left(), r.top(), r.width(), 1, tl);
  if (flags & BF_LEFT) p.fillRect(r.left(), r.top(), 1, r.height(), tl);
  if (flags & BF_BOTTOM) p.fillRect(r.left(), r.bottom(), r.width(), 1, br);
  if (flags & BF_RIGHT) p.fillRect(r.right(), r.top(), 1, r.height(), br);
  r.adjust(flags & BF_LEFT ? 1 : 0, flags & BF_TOP ? 1 : 0, flags & BF_RIGHT ? -1 : 0, flags & BF_BOTTOM ? -1 : 0);
}

}  // namespace

void FcDrawEdge(QPainter& p, QRect r, uint16_t edge, uint16_t flags) {
  p.save();
  bool mono = flags & BF_MONO, flat = flags & BF_FLAT, soft = flags & BF_SOFT;
  QColor hi = FcColor(kHighlight), sh = FcColor(kShadow), dk = FcColor(kDkShadow), lt = FcColor(kLight);
  if (mono) hi = sh = dk = lt = FcColor(clBlack);
  if (flat) hi = lt = dk = sh;
  uint16_t outer = edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER), inner = edge & (BDR_RAISEDINNER | BDR_SUNKENINNER);
  if (outer == BDR_RAISEDOUTER) Ring(p, r, soft ? hi : lt, dk, flags);
  else if (outer == BDR_SUNKENOUTER) Ring(p, r, soft ? dk : sh, hi, flags);
  else if (outer) Ring(p, r, dk, dk, flags);
  if (inner == BDR_RAISEDINNER) Ring(p, r, soft ? lt : hi, sh, flags);
  else if (inner == BDR_SUNKENINNER) Ring(p, r, soft ? sh : dk, lt, flags);
  else if (inner) Ring(p, r, sh, sh, flags);
  if ((flags & BF_MIDDLE) && r.width() > 0 && r.height() > 0) p.fillRect(r, mono ? QColor(Qt::white) : FcColor(kFace));
  p.restore();
}

bool FcAlignRect(QRect& r, const QRect& frame, uint8_t horz, uint8_t vert) {
  int freeX = frame.width() - r.width(), freeY = frame.height() - r.height();
  auto offset = [](int space, uint8_t pos) {
    if (space < 0) return 0;
    return pos == 0 ? 0 : pos == 1 ? static_cast<int>(static_cast<unsigned>(space) >> 1) : space;
  };
  int w = freeX < 0 ? frame.width() : r.width(), h = freeY < 0 ? frame.height() : r.height();
  r = QRect(frame.left() + offset(freeX, horz), frame.top() + offset(freeY, vert), w, h);
  return freeX >= 0 && freeY >= 0;
}
