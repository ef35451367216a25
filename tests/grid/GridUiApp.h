#pragma once
// One application object for the grid's Qt tests (fonts need it).
#include <QGuiApplication>
#include <QImage>

#include "core/Colors.h"

QGuiApplication& GridUiApp();
// Pixel as a colour value ($00BBGGRR).
TColor PixelAt(const QImage& img, int x, int y);
// Pixels of a rectangle (x, y, width, height) dark enough to be text or a tick.
int DarkPixels(const QImage& img, int x, int y, int w, int h);
