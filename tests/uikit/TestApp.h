#pragma once
#include <QApplication>
#include <QImage>
#include <QWidget>

#include "core/Colors.h"

// One application object for the whole test program.
QApplication& TestApp();
// Grab a widget as an image (the parent is grabbed when transparency matters).
QImage Grab(QWidget* w);
// Pixel as a colour value ($00BBGGRR).
TColor PixelAt(const QImage& img, int x, int y);
