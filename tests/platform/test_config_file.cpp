#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "platform/ConfigFile.h"
#include "platform/Registry.h"

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

TEST(ConfigFile, TheRegistryKeepsItsFilesModeAndALinkToIt) {
  namespace fs = std::filesystem;
  TempDir dir;
  // A person's own choice: readable by nobody else, kept elsewhere behind a link.
  const std::string real = dir.File("kept/registry.ini");
  const std::string link = dir.File("home/registry.ini");
  {
    Registry first(real);
    first.WriteString("HKCU\\Software\\Tarvo", "Server", "127.0.0.1");
    first.Save();
  }
  fs::permissions(real, fs::perms(0600));
  fs::create_directories(dir.File("home"));
  fs::create_symlink(real, link);

  Registry reg(link);
  reg.Load();
  reg.WriteString("HKCU\\Software\\Tarvo", "Port", "9000");
  reg.Save();
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0600));
  Registry again(real);
  again.Load();
  EXPECT_EQ(again.ReadString("HKCU\\Software\\Tarvo", "Server"), "127.0.0.1");
  EXPECT_EQ(again.ReadString("HKCU\\Software\\Tarvo", "Port"), "9000");
}

}  // namespace
