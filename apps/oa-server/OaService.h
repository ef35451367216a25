#pragma once
// What the server answers to each request frame, and the line it logs for it.
#include <optional>
#include <string>
#include <string_view>

#include "apps/oa-server/OaDatabase.h"

namespace oa {

// The answer to a query for a document this server does not hold.
AnsiString DocumentNotFoundText();

// "CODE LENGTH HEX": the code's four letters (bytes that are not printable ASCII become
// '?'), the frame length in decimal and the frame in lower-case hex.
std::string FormatLogLine(std::string_view code5, std::string_view frame);

class OaService {
 public:
  explicit OaService(const OaDatabase& db) : db_(db) {}
  // The reply payload (starting with its code), or nullopt when the request gets none and
  // the connection is simply closed. Throws frames::EFrameError for a malformed frame.
  std::optional<std::string> Reply(std::string_view frame) const;

 private:
  const OaDatabase& db_;
};

}  // namespace oa
