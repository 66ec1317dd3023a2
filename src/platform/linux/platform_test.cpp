#include "platform/platform.h"

#include <sys/stat.h>
#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "sweep/sweep.h"
#include "temp_tree.h"

namespace kerv {
namespace {

using testing::TTempTree;

struct TListed {
  std::string Name;
  bool IsDirectory;
  bool operator<(const TListed& Other) const { return Name < Other.Name; }
  bool operator==(const TListed& Other) const { return Name == Other.Name && IsDirectory == Other.IsDirectory; }
};

std::vector<TListed> ListAll(TDirListing& Dir) {
  std::vector<TListed> Entries;
  TDirEntry Entry;
  TFsStatus Status;
  while (Dir.Next(Entry, Status)) Entries.push_back({std::string(Entry.Name, Entry.NameLength), Entry.IsDirectory});
  EXPECT_FALSE(Status.Failed());
  std::sort(Entries.begin(), Entries.end());
  return Entries;
}

TEST(PosixListing, TellsDirectoriesFromEverythingElse) {
  TTempTree Tree;
  Tree.File("file", 3);
  Tree.File(".hidden");
  Tree.Dir("dir");
  Tree.Link("link-to-dir", Tree.Root() + "/dir");
  Tree.Link("dangling", "/nonexistent");
  ASSERT_EQ(0, ::mkfifo((Tree / "fifo").c_str(), 0644));
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree.Root(), Status);
  ASSERT_TRUE(Dir);
  const std::vector<TListed> Expected = {{".", true}, {"..", true},         {".hidden", false}, {"dangling", false},
                                         {"dir", true}, {"fifo", false},    {"file", false},    {"link-to-dir", false}};
  EXPECT_EQ(Expected, ListAll(*Dir));
}

TEST(PosixListing, InspectsAndRemovesWithoutFollowingLinks) {
  TTempTree Tree;
  Tree.File("outside/target", 100);
  Tree.File("in/big", 70000);
  Tree.File("in/ro", 5, 0444);
  Tree.Link("in/link", Tree / "outside/target");
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree / "in", Status);
  ASSERT_TRUE(Dir);

  TFileInfo Info;
  EXPECT_FALSE(Dir->InspectChild("big", Info).Failed());
  EXPECT_EQ(70000u, Info.Size);
  EXPECT_FALSE(Info.ReadOnly);
  EXPECT_FALSE(Dir->InspectChild("ro", Info).Failed());
  EXPECT_TRUE(Info.ReadOnly);
  EXPECT_FALSE(Dir->InspectChild("link", Info).Failed());
  EXPECT_FALSE(Info.ReadOnly);  // a link's own mode grants everything
  EXPECT_EQ(TFsError::NotFound, Dir->InspectChild("missing", Info).Kind);

  EXPECT_FALSE(Dir->RemoveChild("link").Failed());
  EXPECT_FALSE(Tree.Exists("in/link"));
  EXPECT_TRUE(Tree.Exists("outside/target"));
  EXPECT_EQ(TFsError::NotFound, Dir->RemoveChild("link").Kind);
}

TEST(PosixListing, NeverEntersALink) {
  TTempTree Tree;
  Tree.File("outside/x");
  Tree.Link("in/link", Tree / "outside");
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree / "in", Status);
  ASSERT_TRUE(Dir);
  EXPECT_EQ(nullptr, Dir->OpenChild("link", Status));
  EXPECT_FALSE(Status.Failed());  // passed over, not an error
  EXPECT_EQ(nullptr, Dir->OpenChild("missing", Status));
  EXPECT_EQ(TFsError::NotFound, Status.Kind);
}

// A listing that gave its handle back keeps its place, and takes the handle
// again when the child it opened is closed.
TEST(PosixListing, KeepsItsPlaceAcrossReleaseAndTheChildsClose) {
  TTempTree Tree;
  for (int I = 0; I < 3000; ++I) Tree.File("d/f" + std::to_string(I));
  Tree.Dir("d/sub");
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree / "d", Status);
  ASSERT_TRUE(Dir);
  std::vector<std::string> Seen;
  TDirEntry Entry;
  for (int I = 0; I < 1000 && Dir->Next(Entry, Status); ++I) Seen.push_back(Entry.Name);
  auto Sub = Dir->OpenChild("sub", Status);
  ASSERT_TRUE(Sub);
  EXPECT_FALSE(Dir->Release().Failed());
  TFileInfo Info;
  EXPECT_TRUE(Dir->InspectChild("f1", Info).Failed());  // no handle now
  EXPECT_FALSE(Sub->Close().Failed());
  EXPECT_FALSE(Dir->InspectChild("f1", Info).Failed());  // the handle is back
  while (Dir->Next(Entry, Status)) Seen.push_back(Entry.Name);
  std::sort(Seen.begin(), Seen.end());
  EXPECT_EQ(3003u, Seen.size());
  EXPECT_EQ(Seen.end(), std::adjacent_find(Seen.begin(), Seen.end()));
}

TEST(PosixListing, ClosingAChildThatMovedGivesNoHandleBack) {
  TTempTree Tree;
  Tree.Dir("a/sub");
  Tree.Dir("b");
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree / "a", Status);
  auto Sub = Dir->OpenChild("sub", Status);
  ASSERT_TRUE(Sub);
  EXPECT_FALSE(Dir->Release().Failed());
  ASSERT_EQ(0, ::rename((Tree / "a/sub").c_str(), (Tree / "b/sub").c_str()));
  EXPECT_EQ(TFsError::NotFound, Sub->Close().Kind);
  TFileInfo Info;
  EXPECT_TRUE(Dir->InspectChild("sub", Info).Failed());
}

TEST(PosixPlatform, OpensPathsLongerThanThePathLimit) {
  TTempTree Tree;
  const std::string Component(200, 'd');
  std::string Relative;
  for (int I = 0; I < 30; ++I) Relative += Component + "/";
  // Make the chain a step at a time: no single call may see the whole path.
  ASSERT_EQ(0, ::chdir(Tree.Root().c_str()));
  for (int I = 0; I < 30; ++I) {
    ASSERT_EQ(0, ::mkdir(Component.c_str(), 0755));
    ASSERT_EQ(0, ::chdir(Component.c_str()));
  }
  ASSERT_EQ(0, ::chdir("/"));
  TFsStatus Status;
  auto Dir = NativePlatform().OpenDir(Tree / Relative, Status);
  ASSERT_TRUE(Dir) << static_cast<int>(Status.Kind);
  EXPECT_EQ(2u, ListAll(*Dir).size());
  EXPECT_EQ(nullptr, NativePlatform().OpenDir(Tree / Relative + "missing/", Status));
  EXPECT_EQ(TFsError::NotFound, Status.Kind);
}

TEST(PosixPlatform, FailuresByMeaning) {
  TTempTree Tree;
  Tree.File("file");
  TFsStatus Status;
  EXPECT_EQ(nullptr, NativePlatform().OpenDir(Tree / "missing/", Status));
  EXPECT_EQ(TFsError::NotFound, Status.Kind);
  EXPECT_EQ(nullptr, NativePlatform().OpenDir(Tree / "file/", Status));
  EXPECT_EQ(TFsError::NotFound, Status.Kind);  // not a directory
}

// The root is known by what it is, not by how its path is spelt. Only
// opened: nothing here lists or removes anything.
TEST(PosixListing, KnowsTheRoot) {
  TTempTree Tree;
  Tree.Dir("sub");
  struct Row { std::string Path; bool Root; };
  const Row Rows[] = {{"/", true}, {"//", true}, {"/tmp/..", true}, {"/.", true},
                      {"/tmp", false}, {Tree.Root(), false}, {Tree / "sub/..", false}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Path);
    TFsStatus Status;
    auto Dir = NativePlatform().OpenDir(R.Path, Status);
    ASSERT_TRUE(Dir);
    EXPECT_EQ(R.Root, Dir->IsRoot());
  }
}

// Each error number the system may give, what it means, and the one message
// the user sees for it (the numbers are Linux's).
TEST(PosixErrors, MeaningAndMessage) {
  struct Row { int Code; TFsError Kind; const char* Message; };
  const Row Rows[] = {
      {ENOENT, TFsError::NotFound, "Invalid path or filename!"},
      {ENOTDIR, TFsError::NotFound, "Invalid path or filename!"},
      {ENAMETOOLONG, TFsError::NotFound, "Invalid path or filename!"},  // no file has such a name
      {ELOOP, TFsError::NotFound, "Invalid path or filename!"},
      {EACCES, TFsError::AccessDenied, "Permission denied!"},
      {EPERM, TFsError::AccessDenied, "Permission denied!"},
      {EROFS, TFsError::AccessDenied, "Permission denied!"},
      {ENODEV, TFsError::NoDevice, "Invalid device!"},
      {ENXIO, TFsError::NoDevice, "Invalid device!"},
      {EBUSY, TFsError::Busy, "Attempted to remove current directory"},
      // Everything else by its own number: 5 is an I/O error here, not
      // "access denied" as in the old runtime's table.
      {EIO, TFsError::Other, "I/O Error number:5"},
      {ENOSPC, TFsError::Other, "I/O Error number:28"},
      {EFBIG, TFsError::Other, "I/O Error number:27"},
      {EDQUOT, TFsError::Other, "I/O Error number:122"},
      {EPIPE, TFsError::Other, "I/O Error number:32"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Code);
    const TFsStatus Status = SystemErrorStatus(R.Code);
    EXPECT_EQ(R.Kind, Status.Kind);
    EXPECT_EQ(R.Code, Status.Code);
    EXPECT_EQ(R.Message, ErrorMessage(Status));
  }
  EXPECT_FALSE(SystemErrorStatus(0).Failed());
}

}  // namespace
}  // namespace kerv
