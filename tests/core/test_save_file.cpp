// Saving a file a person keeps: the old file survives every save that does not finish.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <algorithm>
#include <vector>

#include "core/Exception.h"
#include "core/SaveFile.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class SaveFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(std::getenv("TMPDIR")) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    target_ = (dir_ / "scan.jpg").string();
  }
  // Everything in the folder, so that a stray temporary file shows.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path dir_;
  std::string target_;
};

TEST_F(SaveFile, ASaveThatDoesNotFinishLeavesTheOldFileAndNothingElse) {
  Write(target_, "old picture");
  // The encoder refuses half-way.
  EXPECT_THROW(SaveWholeFile(target_,
                             [](TStream& s) {
                               s.WriteString("new pic");
                               throw std::runtime_error("JPEG image must be gray scale or true color");
                             }),
               std::runtime_error);
  EXPECT_EQ(Read(target_), "old picture");
  EXPECT_EQ(Names(), std::vector<std::string>{"scan.jpg"});

  // Abandoned without a commit.
  {
    TSaveFileStream out(target_);
    out.WriteString("never committed");
    EXPECT_TRUE(fs::exists(out.TempName()));
    EXPECT_EQ(fs::path(out.TempName()).parent_path(), dir_);
  }
  EXPECT_EQ(Read(target_), "old picture");
  EXPECT_EQ(Names(), std::vector<std::string>{"scan.jpg"});

  // A refused save under a new name leaves no file at all.
  const std::string fresh = (dir_ / "new.jpg").string();
  EXPECT_THROW(SaveWholeFile(fresh, [](TStream&) { throw EWriteError(); }), EWriteError);
  EXPECT_EQ(Names(), std::vector<std::string>{"scan.jpg"});
}

TEST_F(SaveFile, ACommittedSaveReplacesTheWholeFileAndCanBeReadBackWhileWriting) {
  Write(target_, "an old and rather longer picture");
  TSaveFileStream out(target_);
  out.WriteString("header....body");
  // Codecs patch a header after the body.
  out.SetPosition(6);
  out.WriteString("OK");
  out.SetPosition(0);
  EXPECT_EQ(out.ReadRest(), "headerOK..body");
  EXPECT_EQ(Read(target_), "an old and rather longer picture");
  out.Commit();
  EXPECT_EQ(Read(target_), "headerOK..body");
  EXPECT_EQ(Names(), std::vector<std::string>{"scan.jpg"});
  EXPECT_THROW(out.Commit(), EWriteError);

  SaveWholeFile(target_, std::string_view("\0\1\2", 3));
  EXPECT_EQ(Read(target_), std::string("\0\1\2", 3));
}

TEST_F(SaveFile, AWriteThatFallsShortIsNeverCommitted) {
  Write(target_, "old picture");
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  {
    TSaveFileStream out(target_);
    // The short count is ignored on purpose, as a careless encoder would.
    EXPECT_LT(out.Write("0123456789", 10), 10);
    EXPECT_THROW(out.Commit(), EWriteError);
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(Read(target_), "old picture");
  EXPECT_EQ(Names(), std::vector<std::string>{"scan.jpg"});
}

TEST_F(SaveFile, ANewFileGetsTheUsualModeAndAReplacedOneKeepsItsOwn) {
  const mode_t oldMask = ::umask(022);
  SaveWholeFile(target_, "a");
  EXPECT_EQ(ModeOf(target_), 0644u);
  ::umask(027);
  SaveWholeFile((dir_ / "b.png").string(), "b");
  EXPECT_EQ(ModeOf((dir_ / "b.png").string()), 0640u);
  ::umask(oldMask);

  fs::permissions(target_, fs::perms::owner_read | fs::perms::owner_write);
  SaveWholeFile(target_, "again");
  EXPECT_EQ(ModeOf(target_), 0600u);
  EXPECT_EQ(Read(target_), "again");
}

TEST_F(SaveFile, ALinkIsFollowedAndAFolderOrMissingFolderIsRefused) {
  const std::string real = (dir_ / "real.jpg").string();
  Write(real, "old");
  const std::string link = (dir_ / "link.jpg").string();
  fs::create_symlink(real, link);
  SaveWholeFile(link, "new");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(real), "new");

  // A name at the file system's 255-byte limit still saves.
  const std::string longName = (dir_ / (std::string(251, 'n') + ".jpg")).string();
  SaveWholeFile(longName, "long");
  EXPECT_EQ(Read(longName), "long");
  fs::remove(longName);

  EXPECT_THROW(SaveWholeFile(dir_.string(), "x"), EFCreateError);
  EXPECT_THROW(SaveWholeFile((dir_ / "no" / "such.jpg").string(), "x"), EFCreateError);
  EXPECT_EQ(Names(), (std::vector<std::string>{"link.jpg", "real.jpg"}));
}

}  // namespace
