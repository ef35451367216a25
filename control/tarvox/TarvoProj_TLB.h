// The type library of the control: identities, help strings, enumerations and
// the dispids pages bind to.
#pragma once

#include <array>

#include "platform/com/ComTypes.h"

namespace TarvoProj {

inline constexpr TGUID LIBID_TarvoProj = {0x3B6F0C21, 0x8D4E, 0x4A57, {0xB1, 0x9C, 0x52, 0x7E, 0x0A, 0x34, 0xD6, 0x01}};
inline constexpr TGUID IID_ITarvoX = {0x3B6F0C22, 0x8D4E, 0x4A57, {0xB1, 0x9C, 0x52, 0x7E, 0x0A, 0x34, 0xD6, 0x01}};
inline constexpr TGUID DIID_ITarvoXEvents = {0x3B6F0C23, 0x8D4E, 0x4A57, {0xB1, 0x9C, 0x52, 0x7E, 0x0A, 0x34, 0xD6, 0x01}};
inline constexpr TGUID CLASS_TarvoX = {0x3B6F0C24, 0x8D4E, 0x4A57, {0xB1, 0x9C, 0x52, 0x7E, 0x0A, 0x34, 0xD6, 0x01}};

inline constexpr const char* kLibraryName = "TarvoProj";
inline constexpr const char* kLibraryVersion = "1.0";
inline constexpr const char* kLibraryHelp = "TarvoProj Library";
inline constexpr const char* kInterfaceHelp = "Dispatch interface for TarvoX Control";
inline constexpr const char* kEventsHelp = "Events interface for TarvoX Control";
inline constexpr const char* kCoClassHelp = "TarvoX Control";
inline constexpr const char* kProgId = "TarvoProj.TarvoX";
// OLEMISC_SIMPLEFRAME | OLEMISC_ACTSLIKELABEL
inline constexpr uint32_t kMiscStatus = 0x12000;

enum TxActiveFormBorderStyle { afbNone = 0, afbSingle = 1, afbSunken = 2, afbRaised = 3 };
enum TxPrintScale { poNone = 0, poProportional = 1, poPrintToFit = 2 };
enum TxMouseButton { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// ITarvoX members in their dual vtable order.
inline constexpr std::array<const char*, 34> kITarvoXOrder = {
    "Visible",       "AutoScroll",   "AutoSize",   "AxBorderStyle", "Caption",       "Color",
    "Font",          "KeyPreview",   "PixelsPerInch", "PrintScale", "Scaled",        "Active",
    "DropTarget",    "HelpFile",     "DoubleBuffered", "VisibleDockClientCount", "Enabled", "Cursor",
    "LoginName",     "ShowAbort",    "UserCMD",    "UsObject",      "UsID",          "GetStream",
    "RemoteHost",    "RemotePort",   "SetServer",  "Login",         "Template",      "GetFlowChart",
    "FlowChartID",   "UsDB",         "InitTableName", "InitRecordID"};

// ITarvoX dispids.
inline constexpr DISPID DISPID_Visible = 1;
inline constexpr DISPID DISPID_AutoScroll = 2;
inline constexpr DISPID DISPID_AutoSize = 3;
inline constexpr DISPID DISPID_AxBorderStyle = 4;
inline constexpr DISPID DISPID_Caption = -518;
inline constexpr DISPID DISPID_Color = -501;
inline constexpr DISPID DISPID_Font = -512;
inline constexpr DISPID DISPID_KeyPreview = 5;
inline constexpr DISPID DISPID_PixelsPerInch = 6;
inline constexpr DISPID DISPID_PrintScale = 7;
inline constexpr DISPID DISPID_Scaled = 8;
inline constexpr DISPID DISPID_Active = 9;
inline constexpr DISPID DISPID_DropTarget = 10;
inline constexpr DISPID DISPID_HelpFile = 11;
inline constexpr DISPID DISPID_DoubleBuffered = 12;
inline constexpr DISPID DISPID_VisibleDockClientCount = 13;
inline constexpr DISPID DISPID_Enabled = -514;
inline constexpr DISPID DISPID_Cursor = 14;
inline constexpr DISPID DISPID_Login = 15;
inline constexpr DISPID DISPID_Template = 16;
inline constexpr DISPID DISPID_GetFlowChart = 17;
inline constexpr DISPID DISPID_FlowChartID = 18;
inline constexpr DISPID DISPID_LoginName = 19;
inline constexpr DISPID DISPID_InitTableName = 20;
inline constexpr DISPID DISPID_ShowAbort = 21;
inline constexpr DISPID DISPID_UserCMD = 22;
inline constexpr DISPID DISPID_UsObject = 23;
inline constexpr DISPID DISPID_UsID = 24;
inline constexpr DISPID DISPID_GetStream = 25;
inline constexpr DISPID DISPID_RemoteHost = 26;
inline constexpr DISPID DISPID_RemotePort = 27;
inline constexpr DISPID DISPID_SetServer = 28;
inline constexpr DISPID DISPID_UsDB = 29;
inline constexpr DISPID DISPID_InitRecordID = 30;

// ITarvoXEvents dispids.
inline constexpr DISPID DISPID_OnActivate = 1;
inline constexpr DISPID DISPID_OnClick = 2;
inline constexpr DISPID DISPID_OnCreate = 3;
inline constexpr DISPID DISPID_OnDoit = 4;
inline constexpr DISPID DISPID_OnDblClick = 5;
inline constexpr DISPID DISPID_OnDestroy = 6;
inline constexpr DISPID DISPID_OnDeactivate = 7;
inline constexpr DISPID DISPID_OnDoLogin = 8;
inline constexpr DISPID DISPID_OnSendFile = 9;
inline constexpr DISPID DISPID_OnAfterLogin = 10;
inline constexpr DISPID DISPID_OnKeyPress = 11;
inline constexpr DISPID DISPID_OnPaint = 16;

}  // namespace TarvoProj
