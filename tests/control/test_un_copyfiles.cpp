// The attachment container: exact bytes, replace and remove with re-indexing,
// and containers that lie about their sizes.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <fstream>

#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "core/ByteIO.h"

namespace {

int32_t At(const std::string& b, size_t at) { return GetI32LE(b.data() + at); }

// The entry fields of slot i in saved bytes.
struct Entry {
  int32_t index, offset, size, state;
  std::string name;
};
Entry EntryAt(const std::string& b, size_t i) {
  const size_t e = 48 + 272 * i;
  return {At(b, e), At(b, e + 260), At(b, e + 264), At(b, e + 268), b.substr(e + 5, uint8_t(b[e + 4]))};
}

TCopy2Files TwoFiles() {
  TCopy2Files c;
  c.Init(1);  // one slot prepared: the second add grows the slots itself
  c.AddStream("a.doc", std::string(100, 'a'), fsAdded);
  c.AddStream("C:\\docs\\b.txt", std::string(50, 'b'), fsAdded);
  return c;
}

}  // namespace

TEST(CopyFiles, TwoFilesSaveToTheExactLayout) {
  const std::string b = TwoFiles().SaveToBytes();
  ASSERT_EQ(b.size(), 742u);
  EXPECT_EQ(At(b, 0), 2);
  EXPECT_EQ(At(b, 4), 592);
  EXPECT_EQ(b.substr(8, 5), std::string("\x04V1.0", 5));
  EXPECT_EQ(b.substr(29, 5), std::string("\x04zelt", 5));
  EXPECT_EQ(b.substr(13, 16), std::string(16, '\0'));
  EXPECT_EQ(b.substr(34, 14), std::string(14, '\0'));
  const Entry first = EntryAt(b, 0), second = EntryAt(b, 1);
  EXPECT_EQ(first.index, 1);
  EXPECT_EQ(first.name, "a.doc");
  EXPECT_EQ(first.offset, 0);
  EXPECT_EQ(first.size, 100);
  EXPECT_EQ(second.index, 2);
  EXPECT_EQ(second.name, "b.txt");  // the folder part is dropped
  EXPECT_EQ(second.offset, 100);
  EXPECT_EQ(second.size, 50);
  EXPECT_EQ(second.state, fsAdded);
  EXPECT_EQ(b.substr(592), std::string(100, 'a') + std::string(50, 'b'));
}

TEST(CopyFiles, ReplaceMovesLaterFilesAndReindexes) {
  TCopy2Files c = TwoFiles();
  c.ReplaceFile("a.doc", std::string(30, 'x'));
  const std::string b = c.SaveToBytes();
  ASSERT_EQ(b.size(), 48u + 2 * 272 + 80);
  const Entry first = EntryAt(b, 0), second = EntryAt(b, 1);
  EXPECT_EQ(first.index, 3);
  EXPECT_EQ(first.size, 30);
  EXPECT_EQ(first.state, fsReplaced);
  EXPECT_EQ(second.index, 4);
  EXPECT_EQ(second.offset, 30);
  EXPECT_EQ(second.state, fsAdded);
  EXPECT_EQ(c.FileData(1), std::string(50, 'b'));
  EXPECT_EQ(c.FileData(0), std::string(30, 'x'));

  c.ReplaceFile("missing", "zz");  // nothing
  EXPECT_EQ(c.SaveToBytes(), b);
}

TEST(CopyFiles, RemoveKeepsBytesButHidesTheName) {
  TCopy2Files c = TwoFiles();
  c.SetAllStates(fsFromServer);
  EXPECT_FALSE(c.HasChanges());
  c.RemoveFile("a.doc");
  EXPECT_EQ(c.IndexOf("a.doc"), -1);
  EXPECT_EQ(c.IndexOf("b.txt"), 1);
  EXPECT_EQ(c.GetState(0), fsRemoved);
  EXPECT_TRUE(c.HasChanges());
  EXPECT_EQ(c.FileData(0), std::string(100, 'a'));
  // A later file of the same name is the one a second remove reaches.
  c.AddStream("a.doc", "new", fsAdded);
  EXPECT_EQ(c.IndexOf("a.doc"), 2);
  EXPECT_EQ(c.Slot(2).index, 3);
  EXPECT_EQ(c.Slot(2).offset, 150);
}

TEST(CopyFiles, EmptyContainerSavesAsAnEmptyStream) {
  TCopy2Files c;
  c.Init(4);
  TMemoryStream s{std::string("old bytes")};
  c.SaveToStream(s);
  EXPECT_EQ(s.Size(), 0);
  // ...and loads back as a container without files.
  TCopy2Files two = TwoFiles();
  two.LoadFromStream(s);
  EXPECT_EQ(two.Count(), 0);
  EXPECT_EQ(two.SaveToBytes(), "");
  EXPECT_EQ(two.IndexOf("a.doc"), -1);
  EXPECT_FALSE(two.HasChanges());
  EXPECT_FALSE(c.HasChanges());
  EXPECT_EQ(c.MaxIndex(), 0);
  EXPECT_EQ(c.IndexOf("x"), -1);
}

TEST(CopyFiles, LoadRoundTripsAndGrowsItsSlots) {
  const std::string saved = TwoFiles().SaveToBytes();
  TCopy2Files c;
  c.Init(0);
  TMemoryStream s{"prefix" + saved};
  s.SetPosition(6);
  c.LoadFromStream(s);
  EXPECT_EQ(c.Count(), 2);
  EXPECT_GE(c.SlotCount(), 2);
  EXPECT_EQ(c.GetFileName(1), "b.txt");
  EXPECT_EQ(c.SaveToBytes(), saved);
  TMemoryStream out;
  c.ExtractToStream(0, out);
  EXPECT_EQ(out.Data(), std::string(100, 'a'));
  c.ExtractToStream(2, out);  // not a file: nothing
  EXPECT_EQ(out.Size(), 100);
}

TEST(CopyFiles, FilesOnDisk) {
  const std::string path = ::testing::TempDir() + "copyfiles_in.bin";
  { std::ofstream(path, std::ios::binary) << "disk bytes"; }
  TCopy2Files c;
  EXPECT_TRUE(c.AddFile(path, "", fsAdded));
  EXPECT_FALSE(c.AddFile(path + ".missing", "x", fsAdded));
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(c.GetFileName(0), "copyfiles_in.bin");
  const std::string outPath = ::testing::TempDir() + "copyfiles_out.bin";
  c.SaveFileAs(0, outPath);
  std::ifstream in(outPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "disk bytes");
  EXPECT_THROW(c.SaveFileAs(0, "/nonexistent-dir/x"), EFCreateError);
  std::remove(path.c_str());
  std::remove(outPath.c_str());
}

TEST(CopyFiles, LyingContainersAreRefusedAndChangeNothing) {
  const std::string good = TwoFiles().SaveToBytes();
  auto withI32 = [&](size_t at, int32_t v) {
    std::string b = good;
    PutI32LE(b.data() + at, v);
    return b;
  };
  const std::string hostile[] = {
      good.substr(0, 40),                       // short header
      withI32(0, -1),                           // negative count
      withI32(0, 0x7FFFFFFF),                   // count far beyond the bytes
      withI32(0, 3),                            // entries beyond the bytes
      withI32(48 + 264, 1000),                  // size beyond the data
      withI32(48 + 272 + 260, 99),              // gap between files
      withI32(48 + 272 + 264, -5),              // negative size
      good.substr(0, good.size() - 1),          // data cut short
  };
  TCopy2Files c = TwoFiles();
  c.ReplaceFile("b.txt", "kept");
  const std::string before = c.SaveToBytes();
  for (const std::string& h : hostile) {
    EXPECT_THROW(c.LoadFromBytes(h), frames::EFrameError);
    EXPECT_EQ(c.SaveToBytes(), before);
  }
}

// Two files may share a name: each is reached by its place, never the first of that name.
TEST(CopyFiles, SameNamedFilesAreReplacedAndRemovedByTheirPlace) {
  TCopy2Files c;
  c.Init(0);
  c.AddStream("memo.txt", "first", fsFromServer);
  c.AddStream("memo.txt", "second", fsFromServer);
  c.AddStream("tail.txt", "tail", fsFromServer);
  c.ReplaceFileAt(1, "SECOND!");
  EXPECT_EQ(c.FileData(0), "first");
  EXPECT_EQ(c.GetState(0), fsFromServer);
  EXPECT_EQ(c.FileData(1), "SECOND!");
  EXPECT_EQ(c.GetState(1), fsReplaced);
  EXPECT_EQ(c.FileData(2), "tail");
  EXPECT_EQ(c.Slot(2).offset, 5 + 7);

  c.RemoveFileAt(1);
  EXPECT_EQ(c.GetState(0), fsFromServer);
  EXPECT_EQ(c.GetState(1), fsRemoved);
  // A removed file is not edited back to life, and places outside the files do nothing.
  const std::string before = c.SaveToBytes();
  c.ReplaceFileAt(1, "again");
  c.ReplaceFileAt(3, "x");
  c.ReplaceFileAt(-1, "x");
  c.RemoveFileAt(7);
  EXPECT_EQ(c.SaveToBytes(), before);
}

// A copy saved over a file the person keeps replaces it whole or not at all: a write that
// runs out of room leaves the old file as it was.
TEST(CopyFiles, AFailedSaveLeavesTheOldFileAsItWas) {
  const std::string outPath = ::testing::TempDir() + "copyfiles_kept.bin";
  { std::ofstream(outPath, std::ios::binary) << "the person's own file"; }
  TCopy2Files c;
  c.AddStream("big.bin", std::string(1 << 20, 'x'), fsAdded);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;  // the file system is full after 64 KiB
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool refused = false;
  try {
    c.SaveFileAs(0, outPath);
  } catch (const EStreamError&) {
    refused = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);
  EXPECT_TRUE(refused);
  std::ifstream in(outPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the person's own file");
  std::remove(outPath.c_str());
}
