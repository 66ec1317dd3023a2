// The walk over a directory tree: levels, handles and paths, and nothing of
// what is deleted. Entries come in the order the platform lists them, and a
// subdirectory is walked completely at the moment it is entered, as a
// recursive walk would, but from a stack of its own: no depth of tree can
// overflow the program's stack.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kerv {

// Directories the walk keeps open at once, whatever the depth: ancestors
// further up give their handles back and take them again on the way up.
// Small enough for a process limited to 64 descriptors.
inline constexpr std::size_t HeldDirectoryLimit = 16;

class TWalk {
public:
  // Separator: what the walk joins a directory's path and a name with.
  TWalk(TPlatform& Os, char Separator) : Os(Os), Separator(Separator) {}

  // Opens Directory (empty: the current directory; otherwise ending in a
  // separator, or a bare drive) as the top of the walk.
  TFsStatus Open(const std::string& Directory);
  // The top directory's listing, once open.
  const TDirListing& Top() const { return *Levels.front().Dir; }

  // The next entry of the directory being walked, "." and ".." included;
  // after the last entry of a subdirectory, the walk goes on in its parent.
  // False at the end of the walk (Status clear) or on a failure (Status set).
  bool Next(TDirEntry& Entry, TFsStatus& Status);

  // Enters the subdirectory that Next has just given: its entries come
  // next. A subdirectory that is not to be entered (a link by now, another
  // file system's root) is passed over, and Enter reports no failure.
  TFsStatus Enter(const TDirEntry& Entry);

  // The directory whose entries Next gives, and its path as the walk was
  // given it, ending in a separator (empty: the current directory).
  TDirListing& Directory() { return *Levels.back().Dir; }
  const std::string& Path() const { return CurrentPath; }

private:
  struct TLevel {
    std::unique_ptr<TDirListing> Dir;
    std::size_t PathLength;  // of CurrentPath, while this level is walked
  };

  TPlatform& Os;
  const char Separator;
  std::vector<TLevel> Levels;
  std::string CurrentPath;
};

}  // namespace kerv
