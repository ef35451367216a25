#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "platform/ConfigFile.h"

namespace {

TEST(ConfigFile, ReadTellsMissingFoldersAndOversizedFilesApart) {
  TempDir dir;
  EXPECT_EQ(ReadConfigFile(dir.File("none.ini"), 100).status, ConfigFileText::Missing);
  EXPECT_EQ(ReadConfigFile(dir.Path(), 100).status, ConfigFileText::NotRegular);
  WriteFile(dir.File("a.ini"), std::string(101, 'x'));
  const ConfigFileText big = ReadConfigFile(dir.File("a.ini"), 100);
  EXPECT_EQ(big.status, ConfigFileText::TooLarge);
  EXPECT_TRUE(big.text.empty());  // refused before reading
  const ConfigFileText fits = ReadConfigFile(dir.File("a.ini"), 101);
  EXPECT_EQ(fits.status, ConfigFileText::Read);
  EXPECT_EQ(fits.text, std::string(101, 'x'));

  EXPECT_EQ(SplitLines("a\r\n\nb"), (std::vector<std::string>{"a\r", "", "b"}));
  EXPECT_EQ(SplitLines("a\n"), std::vector<std::string>{"a"});
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(ConfigFile, AtomicWriteReplacesWholeFilesAndLeavesNothingOnFailure) {
  TempDir dir;
  const std::string path = dir.File("sub/x.ini");
  ASSERT_EQ(WriteConfigFileAtomically(path, "old"), 0);
  ASSERT_EQ(WriteConfigFileAtomically(path, "new"), 0);
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0644));

  // A folder in the way: the rename fails, reported with its errno, and no temporary stays.
  std::filesystem::create_directories(dir.File("sub/busy/inside"));
  EXPECT_NE(WriteConfigFileAtomically(dir.File("sub/busy"), "text"), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("sub")), {}), 2);
}

}  // namespace
