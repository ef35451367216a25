// Message wrapping, server file names and the record ID rule.
#include <gtest/gtest.h>

#include "control/wire/RecordId.h"
#include "control/wire/ReplyText.h"
#include "core/Guid.h"

TEST(WrapMessageText, BreaksEvery18BytesIntoAtMostThreeLines) {
  EXPECT_EQ(WrapMessageText(""), "");
  EXPECT_EQ(WrapMessageText(std::string(18, 'a')), std::string(18, 'a'));
  EXPECT_EQ(WrapMessageText(std::string(19, 'a')), std::string(18, 'a') + "\r\n" + "a");
  EXPECT_EQ(WrapMessageText(std::string(36, 'a')), std::string(18, 'a') + "\r\n" + std::string(18, 'a'));

  std::string forty;
  for (int i = 0; i < 40; ++i) forty += char('A' + i % 26);
  EXPECT_EQ(WrapMessageText(forty), forty.substr(0, 18) + "\r\n" + forty.substr(18, 18) + "\r\n" + forty.substr(36));
  // The third line is not bounded.
  const std::string seventy(70, 'z');
  EXPECT_EQ(WrapMessageText(seventy), std::string(18, 'z') + "\r\n" + std::string(18, 'z') + "\r\n" + std::string(34, 'z'));
}

TEST(WrapMessageText, NeverCutsADoubleByteCharacter) {
  // "a" then Chinese: byte 18 would be a lead byte, so the line ends at 17.
  const AnsiString text = "a" + Cp936("一二三四五六七八九十");  // 1 + 20 bytes
  const AnsiString wrapped = WrapMessageText(text);
  EXPECT_EQ(wrapped, text.substr(0, 17) + "\r\n" + text.substr(17));
  // Each line decodes without a replacement character.
  const size_t br = wrapped.find("\r\n");
  EXPECT_EQ(Cp936ToUtf8(wrapped.substr(0, br)), "a一二三四五六七八");
  EXPECT_EQ(Cp936ToUtf8(wrapped.substr(br + 2)), "九十");
  // All-Chinese text breaks on character boundaries of exactly 18 bytes.
  const AnsiString even = Cp936("一二三四五六七八九十一二三四五六七八九十");  // 40 bytes
  EXPECT_EQ(WrapMessageText(even), even.substr(0, 18) + "\r\n" + even.substr(18, 18) + "\r\n" + even.substr(36));
}

TEST(ServerFileName, KeepsOnlyTheLastComponent) {
  EXPECT_EQ(ServerFileName("body.doc").value(), "body.doc");
  EXPECT_EQ(ServerFileName("..\\..\\etc/passwd").value(), "passwd");
  EXPECT_EQ(ServerFileName("/tmp/x/y.doc").value(), "y.doc");
  EXPECT_EQ(ServerFileName("C:\\a\\b.doc").value(), "b.doc");
  EXPECT_FALSE(ServerFileName("").has_value());
  EXPECT_FALSE(ServerFileName("a/").has_value());
  EXPECT_FALSE(ServerFileName("..").has_value());
  EXPECT_FALSE(ServerFileName("x\\.").has_value());
  EXPECT_FALSE(ServerFileName(std::string("a\0b", 3)).has_value());
  // 0x5C is a valid trail byte: a Chinese name containing it is not split.
  const AnsiString trail5c = std::string("\x81\x5C", 2) + ".doc";
  EXPECT_EQ(ServerFileName(trail5c).value(), trail5c);
  EXPECT_EQ(ServerFileName("dir\\" + trail5c).value(), trail5c);
  // A lead byte before a byte that is no trail byte does not hide a separator.
  EXPECT_EQ(ServerFileName(std::string("a\xC0/b.doc")).value(), "b.doc");
}

TEST(LocalFileName, IsOnePlainUtf8ComponentOrNothing) {
  EXPECT_EQ(LocalFileName("C:\\a\\b.doc").value(), "b.doc");
  EXPECT_EQ(LocalFileName("dir/" + Cp936("公文.doc")).value(), "公文.doc");
  EXPECT_FALSE(LocalFileName("a\\..").has_value());
  // A cut double-byte character is dropped in conversion: what is left must still be safe.
  EXPECT_FALSE(LocalFileName("x\\..\x81").has_value());
  EXPECT_FALSE(LocalFileName("\x81").has_value());
  EXPECT_EQ(LocalFileName("a.\x81").value(), "a.");
}

TEST(NormaliseRecordId, GuidRules) {
  // Empty: a fresh braced upper-case GUID, new unless both init values are given.
  TRecordIdChoice c = NormaliseRecordId("", "", "");
  TGUID g;
  EXPECT_TRUE(TryStringToGUID(c.id, g));
  EXPECT_EQ(c.id, GUIDToString(g));
  EXPECT_TRUE(c.newDoc);
  EXPECT_NE(NormaliseRecordId("", "", "").id, c.id);
  EXPECT_TRUE(NormaliseRecordId("", "t", "").newDoc);
  EXPECT_FALSE(NormaliseRecordId("", "t", "r").newDoc);

  c = NormaliseRecordId("abc", "", "");
  EXPECT_EQ(c.id, "abc");
  EXPECT_FALSE(c.newDoc);
  EXPECT_EQ(NormaliseRecordId("0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d", "", "").id,
            "{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}");
  EXPECT_EQ(NormaliseRecordId("{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}", "", "").id,
            "{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}");
  EXPECT_EQ(NormaliseRecordId("00000000-0000-0000-0000-000000000000", "", "").id,
            "{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(NormaliseRecordId("{broken", "", "").id, "{broken");
}
