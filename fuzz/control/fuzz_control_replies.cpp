// Feeds arbitrary bytes to every parser of server replies. The first byte picks the
// parser, the rest is the frame. A parser may refuse a frame only with frames::EFrameError;
// whatever it accepts must survive a rebuild and a second parse unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/wire/Frames.h"
#include "control/wire/ReplyText.h"
#include "control/wire/Un_type.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameLogin(const frames::LoginReply& a, const frames::LoginReply& b) {
  return a.UserGUID == b.UserGUID && a.LoginName == b.LoginName && a.UserName == b.UserName && a.CompID == b.CompID &&
         a.CompName == b.CompName && a.DeptID == b.DeptID && a.DeptName == b.DeptName && a.RoleID == b.RoleID &&
         a.RoleName == b.RoleName && a.DutyID == b.DutyID && a.DutyName == b.DutyName &&
         a.UserLevel == b.UserLevel && a.Flag == b.Flag;
}

// A '\\' may be the trail byte of a double-byte character; '/' (0x2F) never is, since
// trail bytes lie in 0x40..0xFE.
bool HasSeparator(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    const uint8_t next = i + 1 < s.size() ? static_cast<uint8_t>(s[i + 1]) : 0;
    if (IsDbcsLeadByte(c) && next >= 0x40 && next != 0x7F && next != 0xFF) {
      ++i;
      continue;
    }
    if (c == '/' || c == '\\') return true;
  }
  return false;
}

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void ParseOne(uint8_t which, std::string_view f) {
  switch (which % 12) {
    case 0: {
      const auto r = frames::ParseLoginReply(f);
      Check(r.UserGUID.size() <= 38 && r.LoginName.size() <= 50 && r.DutyName.size() <= 50);
      Check(SameLogin(frames::ParseLoginReply(frames::BuildLoginReply(r)), r));
      break;
    }
    case 1: {
      const AnsiString text = frames::ParseServerMessage(f);
      Check(text.size() <= 100);
      Check(frames::ParseServerMessage(frames::BuildServerMessage(text)) == text);
      break;
    }
    case 2: {
      const auto r = frames::ParseAttachmentsReply(f);
      Check(Inside(r.container, f));
      Check(r.comments.size() <= f.size() / frames::kCommentRecordSize);
      break;
    }
    case 3: {
      const auto users = frames::ParseUserListReply(f);
      Check(users.size() <= f.size() / frames::kUserRecordSize);
      if (!users.empty()) Check(frames::ParseUserListReply(frames::BuildUserListReply(users)).size() == users.size());
      break;
    }
    case 4: {
      const auto entries = frames::ParseNumbersReply(f);
      Check(entries.size() <= f.size() / frames::kNumberEntrySize);
      break;
    }
    case 5: {
      const auto units = frames::ParseUnitsReply(f);
      Check(units.size() <= f.size() / frames::kUnitRecordSize);
      const auto again = frames::ParseUnitsReply(frames::BuildUnitsReply(units));
      Check(again.size() == units.size());
      for (size_t i = 0; i < units.size(); ++i) Check(again[i].number == units[i].number && again[i].name == units[i].name);
      break;
    }
    case 6: {
      const auto r = frames::ParseFileReply(f);
      Check(Inside(r.body, f) && r.fileName.size() <= 50);
      break;
    }
    case 7:
      Check(Inside(frames::ParseSheetReply(f), f));
      break;
    case 8: {
      const auto q = frames::ReadQueryRequest(f);
      Check(frames::BuildQueryRequest(q).size() == frames::kQuerySize);
      break;
    }
    case 9: {
      const AnsiString wrapped = WrapMessageText(f);
      Check(wrapped.size() <= f.size() + 4 && wrapped.size() >= f.size());
      break;
    }
    case 10: {
      const auto name = ServerFileName(f);
      if (name) Check(!name->empty() && *name != "." && *name != ".." && !HasSeparator(*name));
      break;
    }
    case 11:
      UnpackLoginReply(f);
      Check(SessionValues().UserGUID.size() <= 38);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view frame(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    ParseOne(data[0], frame);
  } catch (const frames::EFrameError&) {
    // refused: the dispatcher drops such a reply
  }
  return 0;
}
