#pragma once
// Painting helpers of the chart: colours, fonts, regions, edges and text alignment.
#include <QColor>
#include <QFont>
#include <QPainter>

#include "flowchart/FcChart.h"

QColor FcColor(TColor c);
QFont FcQFont(const TFcFont& f);
Qt::PenStyle FcPenStyle(uint8_t penStyle);

// Edge styles and border flags as stored in chart objects.
enum : uint16_t {
  BDR_RAISEDOUTER = 1, BDR_SUNKENOUTER = 2, BDR_RAISEDINNER = 4, BDR_SUNKENINNER = 8,
  BF_LEFT = 1, BF_TOP = 2, BF_RIGHT = 4, BF_BOTTOM = 8, BF_DIAGONAL = 16, BF_MIDDLE = 0x800, BF_SOFT = 0x1000,
  BF_ADJUST = 0x2000, BF_FLAT = 0x4000, BF_MONO = 0x8000,
};
// A three-dimensional edge in the desktop's 3-D colours.
void FcDrawEdge(QPainter& p, QRect r, uint16_t edge, uint16_t flags);

// Aligns a size in a frame: 0 start, 1 centre, 2 end per axis; a size larger than the
// frame shrinks to it. Returns whether it fitted on both axes.
bool FcAlignRect(QRect& r, const QRect& frame, uint8_t horz, uint8_t vert);
