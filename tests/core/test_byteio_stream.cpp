#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "core/ByteIO.h"
#include "core/Streams.h"

namespace {

TEST(ByteIO, WritesAndReadsLittleEndian) {
  ByteWriter w;
  w.U8(0x01);
  w.I16(-2);
  w.I32(0x12345678);
  w.F64(1.5);
  w.Bytes("xy");
  const std::string& s = w.Str();
  ASSERT_EQ(s.size(), 1u + 2 + 4 + 8 + 2);
  EXPECT_EQ(static_cast<uint8_t>(s[3]), 0x78);  // low byte first
  ByteReader r(s);
  EXPECT_EQ(r.U8(), 1);
  EXPECT_EQ(r.I16(), -2);
  EXPECT_EQ(r.I32(), 0x12345678);
  EXPECT_EQ(r.F64(), 1.5);
  EXPECT_EQ(r.Bytes(2), "xy");
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST(ByteIO, ShortReadsRaiseAndDoNotMove) {
  std::string s("\x01\x02\x03", 3);
  ByteReader r(s);
  EXPECT_THROW(r.I32(), EReadError);
  EXPECT_EQ(r.Pos(), 0u);
  EXPECT_THROW(r.Bytes(static_cast<size_t>(-1)), EReadError);  // a hostile length
  EXPECT_THROW(r.Seek(4), EReadError);
  r.Skip(3);
  EXPECT_THROW(r.U8(), EReadError);
}

TEST(ByteIO, StreamReadsStopAtThePushedLimitWithTheCallersError) {
  struct Short : Exception {
    Short() : Exception("short") {}
  };
  TMemoryStream m(std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8));
  m.SetPosition(0);
  ByteReader r(m, [] { throw Short(); });
  r.PushLimit(6);
  EXPECT_EQ(r.I32(), 1);
  EXPECT_THROW(r.I32(), Short);  // the stream holds it, the block does not
  EXPECT_EQ(m.Position(), 4);
  EXPECT_THROW(r.PushLimit(7), Short);  // an inner block cannot reach past its outer one
  r.PopLimit();
  EXPECT_EQ(r.I32(), 2);
  EXPECT_THROW(r.U8(), Short);
}

TEST(ByteIO, ExtendedRoundTrip) {
  for (double d : {0.0, 1.0, -2.5, 3.14159265358979, 1e300, -1e-300, 44927.75}) {
    ByteWriter w;
    w.F80(d);
    ASSERT_EQ(w.Size(), 10u);
    ByteReader r(w.Str());
    EXPECT_EQ(r.F80(), d);
  }
  // 1.0 is mantissa 0x8000000000000000, exponent 0x3FFF.
  ByteWriter w;
  w.F80(1.0);
  EXPECT_EQ(w.Str(), std::string("\0\0\0\0\0\0\0\x80\xFF\x3F", 10));
  ByteWriter inf;
  inf.F80(std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isinf(ByteReader(inf.Str()).F80()));
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
  TMemoryStream m;
  m.WriteString("hello");
  EXPECT_EQ(m.Size(), 5);
  m.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  m.SetPosition(3);
  EXPECT_THROW(m.ReadBuffer(buf, 3), EReadError);
  m.Seek(0, soEnd);
  m.WriteString("!");
  EXPECT_EQ(m.Data(), "hello!");
  m.SetSize(2);
  EXPECT_EQ(m.Position(), 2);
  TMemoryStream copy;
  copy.CopyFrom(m, 0);
  EXPECT_EQ(copy.Data(), "he");
}

TEST(Streams, FileStreamRoundTripAndErrors) {
  auto path = (std::filesystem::temp_directory_path() / "tarvo_core_stream_test.bin").string();
  {
    TMemoryStream m(std::string("abc\0def", 7));
    m.SaveToFile(path);
  }
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  TMemoryStream back;
  back.LoadFromFile(path);
  EXPECT_EQ(back.Data(), std::string("abc\0def", 7));
  std::filesystem::remove(path);
  EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("/nonexistent-dir/x", fmCreate), EFCreateError);
}

}  // namespace
