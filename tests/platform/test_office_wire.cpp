// The messages between the control and its office worker: read in place, and a payload
// that does not hold what it announces is the system's own error, never a long read.
#include <gtest/gtest.h>

#include "core/Exception.h"
#include "platform/office/OfficeWire.h"

namespace {

using office_wire::Reader;
using office_wire::WireError;
using office_wire::Writer;

std::string Answer() {
  Writer w;
  w.U32(7);
  w.U8(0);
  w.I32(-2);
  w.I64(-(int64_t(1) << 40) - 3);
  w.Str(std::string("pix\0els", 7));
  w.Str("");
  return w.Payload();
}

TEST(OfficeWire, AnAnswerReadsBackAndItsBlocksAreReadWhereTheyLie) {
  const std::string payload = Answer();
  Reader r(payload);
  EXPECT_EQ(r.U32(), 7u);
  EXPECT_EQ(r.U8(), 0);
  EXPECT_EQ(r.I32(), -2);
  EXPECT_EQ(r.I64(), -(int64_t(1) << 40) - 3);
  const std::string_view block = r.View();
  EXPECT_EQ(block, std::string_view("pix\0els", 7));
  EXPECT_GE(block.data(), payload.data());
  EXPECT_LE(block.data() + block.size(), payload.data() + payload.size());
  EXPECT_FALSE(r.AtEnd());
  EXPECT_EQ(r.Str(), "");
  EXPECT_TRUE(r.AtEnd());
}

TEST(OfficeWire, AShortOrOverlongPayloadIsAWireErrorOfTheSystem) {
  const std::string payload = Answer();
  // Cut anywhere: the read that passes the end fails.
  for (size_t cut = 0; cut < payload.size(); ++cut) {
    SCOPED_TRACE(cut);
    Reader r(std::string_view(payload).substr(0, cut));
    try {
      r.U32();
      r.U8();
      r.I32();
      r.I64();
      r.View();
      r.View();
      ADD_FAILURE() << "read past the end";
    } catch (const Exception& e) {
      EXPECT_NE(dynamic_cast<const WireError*>(&e), nullptr);
      EXPECT_EQ(e.Message(), "office message ends early");
    }
  }
  // A block announcing far more than the message holds is refused before it is taken.
  Writer hostile;
  hostile.U32(0xFFFFFFFFu);
  hostile.Raw("abc");
  const std::string bytes = hostile.Payload();
  Reader r(bytes);
  EXPECT_THROW(r.Str(), WireError);
}

}  // namespace
