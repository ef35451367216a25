#pragma once
// The TWAIN 1.x protocol as our scanner and our source manager speak it: the
// constants and the 2-byte packed structures of the published TWAIN interface.
#include <cstdint>

using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;

#pragma pack(push, 2)
struct TW_STR32 {
  char text[34];
};
struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};
struct TW_VERSION {
  TW_UINT16 MajorNum, MinorNum, Language, Country;
  TW_STR32 Info;
};
struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor, ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer, ProductFamily, ProductName;
};
struct TW_IMAGEINFO {
  TW_FIX32 XResolution, YResolution;
  TW_INT32 ImageWidth, ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};
struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};
struct TW_CAPABILITY {
  TW_UINT16 Cap, ConType;
  TW_HANDLE hContainer;
};
struct TW_USERINTERFACE {
  TW_BOOL ShowUI, ModalUI;
  TW_HANDLE hParent;
};
struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 Reserved;
};
struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};
struct TW_STATUS {
  TW_UINT16 ConditionCode, Reserved;
};
#pragma pack(pop)
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(sizeof(TW_ONEVALUE) == 6);

using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                   TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

constexpr TW_UINT32 DG_CONTROL = 0x0001, DG_IMAGE = 0x0002;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001, DAT_EVENT = 0x0002, DAT_IDENTITY = 0x0003,
                    DAT_PARENT = 0x0004, DAT_PENDINGXFERS = 0x0005, DAT_STATUS = 0x0008,
                    DAT_USERINTERFACE = 0x0009, DAT_IMAGEINFO = 0x0101,
                    DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 MSG_GET = 0x0001, MSG_GETDEFAULT = 0x0003, MSG_SET = 0x0006,
                    MSG_RESET = 0x0007, MSG_XFERREADY = 0x0101, MSG_CLOSEDSREQ = 0x0102,
                    MSG_OPENDSM = 0x0301, MSG_CLOSEDSM = 0x0302, MSG_OPENDS = 0x0401,
                    MSG_CLOSEDS = 0x0402, MSG_USERSELECT = 0x0403, MSG_DISABLEDS = 0x0501,
                    MSG_ENABLEDS = 0x0502, MSG_PROCESSEVENT = 0x0601, MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 TWRC_SUCCESS = 0, TWRC_FAILURE = 1, TWRC_CHECKSTATUS = 2, TWRC_CANCEL = 3,
                    TWRC_DSEVENT = 4, TWRC_NOTDSEVENT = 5, TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWCC_SUCCESS = 0, TWCC_BUMMER = 1, TWCC_LOWMEMORY = 2, TWCC_NODS = 3,
                    TWCC_OPERATIONERROR = 5, TWCC_BADCAP = 6, TWCC_BADVALUE = 10,
                    TWCC_SEQERROR = 11, TWCC_PAPERJAM = 20;
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001, ICAP_PIXELTYPE = 0x0101, ICAP_UNITS = 0x0102,
                    ICAP_XFERMECH = 0x0103, ICAP_XRESOLUTION = 0x1118,
                    ICAP_YRESOLUTION = 0x1119, ICAP_BITDEPTH = 0x112B;
constexpr TW_UINT16 TWTY_INT16 = 1, TWTY_UINT16 = 4, TWTY_FIX32 = 7;
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWPT_BW = 0, TWPT_GRAY = 1, TWPT_RGB = 2, TWPT_PALETTE = 3;
constexpr TW_UINT16 TWSX_NATIVE = 0, TWUN_INCHES = 0;
