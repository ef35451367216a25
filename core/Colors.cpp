#include "core/Colors.h"

bool IsSystemColor(TColor c) {
  uint32_t u = static_cast<uint32_t>(c);
  uint32_t hi = u & 0xFF000000u;
  return (hi == 0xFF000000u || hi == 0x80000000u) && (u & 0x00FFFFFFu) <= 0xFFu;
}

TColor GetSysColor(int32_t index) {
  switch (index) {
    case COLOR_SCROLLBAR: return RGB(212, 208, 200);
    case COLOR_BACKGROUND: return RGB(0, 78, 152);
    case COLOR_ACTIVECAPTION: return RGB(0, 84, 227);
    case COLOR_INACTIVECAPTION: return RGB(122, 150, 223);
    case COLOR_MENU: return RGB(255, 255, 255);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME: return RGB(0, 0, 0);
    case COLOR_MENUTEXT: return RGB(0, 0, 0);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT: return RGB(255, 255, 255);
    case COLOR_ACTIVEBORDER: return RGB(212, 208, 200);
    case COLOR_INACTIVEBORDER: return RGB(212, 208, 200);
    case COLOR_APPWORKSPACE: return RGB(128, 128, 128);
    case COLOR_HIGHLIGHT: return RGB(49, 106, 197);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(236, 233, 216);
    case COLOR_BTNSHADOW: return RGB(172, 168, 153);
    case COLOR_GRAYTEXT: return RGB(172, 168, 153);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_INACTIVECAPTIONTEXT: return RGB(216, 228, 248);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_3DDKSHADOW: return RGB(113, 111, 100);
    case COLOR_3DLIGHT: return RGB(241, 239, 226);
    case COLOR_INFOTEXT: return RGB(0, 0, 0);
    case COLOR_INFOBK: return RGB(255, 255, 225);
    case COLOR_HOTLIGHT: return RGB(0, 0, 128);
    case COLOR_GRADIENTACTIVECAPTION: return RGB(61, 149, 255);
    case COLOR_GRADIENTINACTIVECAPTION: return RGB(157, 185, 235);
    case COLOR_MENUHILIGHT: return RGB(49, 106, 197);
    case COLOR_MENUBAR: return RGB(236, 233, 216);
    default: return RGB(0, 0, 0);
  }
}

TColor ColorToRGB(TColor c) {
  if (IsSystemColor(c)) return GetSysColor(static_cast<int32_t>(static_cast<uint32_t>(c) & 0xFF));
  return c;
}
