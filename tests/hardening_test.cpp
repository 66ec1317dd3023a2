// The faults a remover must survive: attacks on the tree while it is swept,
// huge directories and lists, and names that break naive code. Each test
// checks that nothing outside the intended selection is deleted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Strings = std::vector<std::string>;

// Another process swaps a subdirectory for a link to an outside directory
// again and again while the sweep runs. Directories are opened relative to
// their parents without following links, so not one outside file may go.
TEST(SharedHardening, SwappingADirectoryForALinkNeverLeadsOutside) {
  TTempTree Tree;
  for (int I = 0; I < 50; ++I) Tree.File("outside/keep" + std::to_string(I) + ".tmp");
  const Strings Outside = Tree.Files();
  constexpr int Subdirectories = 20;
  for (int Run = 0; Run < 30; ++Run) {
    for (int D = 0; D < Subdirectories; ++D)
      for (int I = 0; I < 20; ++I) Tree.File("t/sub" + std::to_string(D) + "/f" + std::to_string(I) + ".tmp");
    std::atomic<bool> Stop{false};
    // Each subdirectory is a link half of the time: the sweep lists it as a
    // directory and often finds a link when it comes to open it.
    std::thread Attacker([&] {
      const std::string Link = Tree / "outside";
      while (!Stop) {
        for (int D = 0; D < Subdirectories; ++D) {
          const std::string Sub = Tree / "t/sub" + std::to_string(D);
          if (::rename(Sub.c_str(), (Sub + ".real").c_str()) == 0) ::symlink(Link.c_str(), Sub.c_str());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        for (int D = 0; D < Subdirectories; ++D) {
          const std::string Sub = Tree / "t/sub" + std::to_string(D);
          if (::unlink(Sub.c_str()) == 0) ::rename((Sub + ".real").c_str(), Sub.c_str());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    });
    RunProgram({"-R", Tree / "t/*.tmp"});
    Stop = true;
    Attacker.join();
    Strings Kept;
    for (const std::string& F : Tree.Files())
      if (F.rfind("outside/", 0) == 0) Kept.push_back(F);
    ASSERT_EQ(Outside, Kept) << "run " << Run;
  }
}

TEST(SharedHardening, DirectoryOfAHundredThousandEntries) {
  TTempTree Tree;
  const int Dir = ::open(Tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int I = 0; I < 100000; ++I) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "f%d%s", I, I % 4 == 0 ? ".keep" : ".tmp");
    ::close(::openat(Dir, Name, O_WRONLY | O_CREAT, 0644));
  }
  ::close(Dir);
  const TRunResult R = RunProgram({Tree / "*.tmp"});
  EXPECT_EQ(0, R.Status);
  EXPECT_NE(std::string::npos, R.Out.find("Total deleted :  75000 files"));
  EXPECT_EQ(25000u, Tree.Files().size());
}

// Names with a newline, backslashes, bytes that are not UTF-8, a leading
// dash and spaces are names like any other: matched by the rules, removed
// exactly, and printed with control bytes and backslashes escaped. A
// backslash is an ordinary character, so "x.tmp\y" ends in ".tmp\y".
TEST(Hardening, OddNames) {
  TTempTree Tree;
  struct Doomed { std::string Name, Printed; };
  const Doomed Gone[] = {{"new\nline.tmp", "new\\012line.tmp"}, {"a\\b.tmp", "a\\134b.tmp"},
                         {"\xff\xfe.tmp", "\xff\xfe.tmp"}, {"-R.tmp", "-R.tmp"},
                         {"with space.tmp", "with space.tmp"}, {" .tmp", " .tmp"}};
  const Strings Kept = {"x.tmp\\y", "plain.txt", "\xe9t\xe9.TXT"};
  for (const Doomed& F : Gone) Tree.File("t/" + F.Name, 1);
  for (const std::string& F : Kept) Tree.File("t/" + F, 1);
  const TRunResult R = RunProgram({Tree / "t/*.tmp"});
  EXPECT_EQ(0, R.Status);
  for (const Doomed& F : Gone)
    EXPECT_NE(std::string::npos, R.Out.find("File " + Tree / "t/" + F.Printed + " deleted!\n")) << F.Printed;
  Strings Expected;
  for (const std::string& F : Kept) Expected.push_back("t/" + F);
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Expected, Tree.Files());
}

// A list file of 20 MB (1.2 million names) is read in time and memory
// linear in its size, and its names protect what they name.
TEST(SharedHardening, HugeListFile) {
  TTempTree Tree;
  Tree.File("t/keep0000000.txt");
  Tree.File("t/keep1199999.txt");
  Tree.File("t/other.txt");
  {
    FILE* List = std::fopen((Tree / "keep.lst").c_str(), "w");
    for (int I = 0; I < 1200000; ++I) std::fprintf(List, "keep%07d.txt\r\n", I);
    std::fclose(List);
  }
  const TRunResult R = RunProgram({Tree / "t/*.*", "!", std::string("@") + (Tree / "keep.lst")});
  EXPECT_EQ(0, R.Status);
  EXPECT_EQ((Strings{"keep.lst", "t/keep0000000.txt", "t/keep1199999.txt"}), Tree.Files());
  EXPECT_LT(R.PeakKiB, 512 * 1024) << "peak memory for a 20 MB list";
}

}  // namespace
}  // namespace kerv::testing
