// The private folder for temporary copies: where it is, and what another local user may
// have put in its way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "core/Exception.h"
#include "core/PrivateTemp.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct stat Lstat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

class PrivateTemp : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = std::getenv("XDG_RUNTIME_DIR");
    tmp_ = std::getenv("TMPDIR");
    ASSERT_FALSE(runtime_.empty());
    ASSERT_FALSE(tmp_.empty());
    folder_ = runtime_ + "/tarvo-" + std::to_string(::geteuid());
    fs::remove_all(folder_);
    fs::remove_all(tmp_ + "/tarvo-" + std::to_string(::geteuid()));
  }
  void TearDown() override {
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("TMPDIR", tmp_.c_str(), 1);
  }
  std::string runtime_, tmp_, folder_;
};

TEST_F(PrivateTemp, TheFolderIsTheUsersOwnUnderTheRuntimeFolderElseTheTempFolder) {
  EXPECT_EQ(UserTempFolder(), folder_ + "/");
  const struct stat st = Lstat(folder_);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());

  // A runtime folder others can enter is not used; nor is a missing one.
  const std::string open = tmp_ + "/open-runtime";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all);
  setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
  const std::string inTemp = tmp_ + "/tarvo-" + std::to_string(::geteuid()) + "/";
  EXPECT_EQ(UserTempFolder(), inTemp);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(UserTempFolder(), inTemp);
  EXPECT_EQ(Lstat(inTemp).st_mode & 0777, 0700u);

  // A temp folder others may write to without the sticky bit could have ours swapped.
  const std::string shared = tmp_ + "/shared";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms::all);
  setenv("TMPDIR", shared.c_str(), 1);
  EXPECT_THROW(PrivateTempFolder(), EFCreateError);
  EXPECT_FALSE(fs::exists(shared + "/tarvo-" + std::to_string(::geteuid())));
}

TEST_F(PrivateTemp, ALinkOrAnotherUsersFolderInItsPlaceIsRefused) {
  const std::string elsewhere = tmp_ + "/elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, folder_);
  EXPECT_THROW(PrivateTempFolder(), EFCreateError);
  EXPECT_THROW(PrivateTempPath("QBTmpJpg.jpg"), EFCreateError);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(folder_);

  fs::create_directory(folder_);
  if (::chown(folder_.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give a folder away without root";
  EXPECT_THROW(PrivateTempFolder(), EFCreateError);
  EXPECT_THROW(PrivateTempPath("Temp.doc"), EFCreateError);
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(PrivateTemp, TheUsersOwnFolderThatOthersCouldEnterIsMadePrivate) {
  fs::create_directory(folder_);
  fs::permissions(folder_, fs::perms::all);
  EXPECT_EQ(UserTempFolder(), folder_ + "/");
  EXPECT_EQ(Lstat(folder_).st_mode & 0777, 0700u);
}

TEST_F(PrivateTemp, WhatStandsAtAFileNameIsReplacedNeverFollowed) {
  const std::string victim = tmp_ + "/victim.txt";
  Write(victim, "keep");
  ::chmod(victim.c_str(), 0644);
  const std::string own = PrivateTempFolder();
  fs::create_symlink(victim, own + "QBTmpJpg.jpg");
  fs::create_symlink(victim, own + "20261207063500000a.txt");
  Write(own + "Temp.doc", "stale");
  ::chmod((own + "Temp.doc").c_str(), 0666);

  // A path handed to another writer: nothing is left there.
  const std::string jpg = PrivateTempPath("QBTmpJpg.jpg");
  EXPECT_EQ(jpg, own + "QBTmpJpg.jpg");
  EXPECT_FALSE(fs::exists(fs::symlink_status(jpg)));
  EXPECT_FALSE(fs::exists(PrivateTempPath("Temp.doc")));

  // A file written here is new and private, whatever stood at its name.
  const std::string copy = PrivateTempFolder() + "20261207063500000a.txt";
  WritePrivateFile(copy, "attachment");
  const struct stat st = Lstat(copy);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Read(copy), "attachment");
  EXPECT_EQ(Read(victim), "keep");
  EXPECT_EQ(Lstat(victim).st_mode & 0777, 0644u);

  for (const char* bad : {"", ".", "..", "../x.doc", "a/b"}) EXPECT_THROW(PrivateTempPath(bad), EFCreateError) << bad;
}

}  // namespace

TEST_F(PrivateTemp, AFreshFolderIsMadeInsideThePrivateOneOrRefused) {
  const std::string a = MakePrivateTempDir("w-");
  const std::string b = MakePrivateTempDir("w-");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.substr(0, folder_.size() + 3), folder_ + "/w-");
  EXPECT_EQ(a.size(), folder_.size() + 9);
  EXPECT_TRUE(S_ISDIR(Lstat(a).st_mode));
  EXPECT_EQ(Lstat(a).st_mode & 0777, 0700u);
  EXPECT_THROW(MakePrivateTempDir("a/b-"), EFCreateError);
  EXPECT_THROW(MakePrivateTempDir(""), EFCreateError);
  // Never in another's folder standing in the private one's place.
  fs::remove_all(folder_);
  const std::string elsewhere = tmp_ + "/elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, folder_);
  EXPECT_THROW(MakePrivateTempDir("w-"), EFCreateError);
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

namespace {

// Runs body in a child process (a program of its own for the private folder) and returns
// what it wrote to its pipe.
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    try {
      out = body();
    } catch (const std::exception& e) {
      out = std::string("raised: ") + e.what();
    }
    if (::write(fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  ::close(fds[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return got;
}

}  // namespace

TEST_F(PrivateTemp, TwoProgramsOfOneUserKeepTheirSameNamedCopiesApart) {
  const std::string mine = PrivateTempPath("Temp.doc");
  Write(mine, "mine");
  EXPECT_EQ(mine.substr(0, folder_.size() + 1), folder_ + "/");

  // Another program opens the same name while this one's copy is in use.
  const std::string theirs = InChild([] {
    const std::string path = PrivateTempPath("Temp.doc");
    WritePrivateFile(path, "theirs");
    return path;
  });
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(theirs.substr(0, folder_.size() + 1), folder_ + "/");
  EXPECT_EQ(Read(mine), "mine");
  EXPECT_EQ(Lstat(fs::path(mine).parent_path().string()).st_mode & 0777, 0700u);
}

TEST_F(PrivateTemp, TheNextProgramRemovesTheFoldersOfProgramsThatNoLongerRun) {
  const std::string mine = PrivateTempFolder();
  Write(mine + "Temp.doc", "in use");
  // A program that ended and left a copy behind.
  const std::string gone = InChild([] {
    WritePrivateFile(PrivateTempPath("PreviewSave.doc"), "left");
    return PrivateTempFolder();
  });
  ASSERT_TRUE(fs::exists(gone + "PreviewSave.doc"));
  // Not a program's folder, and a link dressed as one: neither is touched or followed.
  const std::string victim = tmp_ + "/kept";
  fs::create_directories(victim);
  Write(victim + "/file", "keep");
  fs::create_directory_symlink(victim, folder_ + "/p1-1");
  fs::create_directories(folder_ + "/mine");

  const std::string next = InChild([] { return PrivateTempFolder(); });
  EXPECT_FALSE(fs::exists(gone)) << gone;
  // The running program's folder, and the next one's own, stay.
  EXPECT_EQ(Read(mine + "Temp.doc"), "in use");
  EXPECT_TRUE(fs::exists(folder_ + "/mine"));
  EXPECT_EQ(Read(victim + "/file"), "keep");
  EXPECT_NE(next, gone);
}
