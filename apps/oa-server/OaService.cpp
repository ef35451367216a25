#include "apps/oa-server/OaService.h"

namespace oa {

AnsiString DocumentNotFoundText() { return Cp936("未找到该文档！"); }

std::string FormatLogLine(std::string_view code5, std::string_view frame) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(16 + frame.size() * 2);
  for (size_t i = 1; i < 5; ++i) {
    const char c = i < code5.size() ? code5[i] : '?';
    line.push_back(c >= 0x21 && c <= 0x7E ? c : '?');
  }
  line.push_back(' ');
  line += std::to_string(frame.size());
  line.push_back(' ');
  for (unsigned char b : frame) {
    line.push_back(kHex[b >> 4]);
    line.push_back(kHex[b & 15]);
  }
  return line;
}

std::optional<std::string> OaService::Reply(std::string_view frame) const {
  // A request without a full four-letter code is refused, not merely left unanswered.
  if (frame.size() < frames::kCodeSize || uint8_t(frame[0]) != 4)
    throw frames::EFrameError("frame without a code field");
  const AnsiString code = frames::FrameCode(frame);
  if (code == "LOGN") {
    const auto user = db_.FindUserByLogin(frames::ParseLoginRequest(frame));
    return frames::BuildLoginReply(user ? *user : frames::LoginReply{});
  }
  if (code == "QUEY") {
    frames::ReadQueryRequest(frame);  // refuses a malformed query before answering it
    return frames::BuildServerMessage(DocumentNotFoundText());
  }
  return std::nullopt;
}

}  // namespace oa
