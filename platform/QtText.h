#pragma once
// The one road between code page 936 bytes and what a person sees.
#include <QString>

#include "core/AnsiString.h"

inline QString ToQString(const AnsiString& s) {
  return QString::fromStdString(Cp936ToUtf8(s));
}

inline AnsiString ToAnsi(const QString& s) { return Utf8ToCp936(s.toStdString()); }
