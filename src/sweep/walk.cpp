#include "sweep/walk.h"

#include <utility>

namespace kerv {

TFsStatus TWalk::Open(const std::string& Directory) {
  TFsStatus Status;
  std::unique_ptr<TDirListing> Top = Os.OpenDir(Directory, Status);
  if (!Top) return Status;
  CurrentPath = Directory;
  Levels.clear();
  Levels.push_back({std::move(Top), CurrentPath.size()});
  return {};
}

bool TWalk::Next(TDirEntry& Entry, TFsStatus& Status) {
  while (!Levels.empty()) {
    if (Levels.back().Dir->Next(Entry, Status)) return true;
    if (Status.Failed()) return false;
    // This directory is done: closing it gives its parent the handle back.
    if (const TFsStatus Closed = Levels.back().Dir->Close(); Closed.Failed()) {
      Status = Closed;
      return false;
    }
    Levels.pop_back();
    if (!Levels.empty()) CurrentPath.resize(Levels.back().PathLength);
  }
  return false;
}

TFsStatus TWalk::Enter(const TDirEntry& Entry) {
  // Make room first, so that the child's handle is never one too many.
  if (Levels.size() >= HeldDirectoryLimit)
    if (const TFsStatus Gave = Levels[Levels.size() - HeldDirectoryLimit].Dir->Release(); Gave.Failed()) return Gave;
  TFsStatus Status;
  std::unique_ptr<TDirListing> Child = Directory().OpenChild(Entry.Name, Status);
  if (!Child) return Status;  // clear: a link or another file system, never entered
  CurrentPath.append(Entry.Name, Entry.NameLength);
  CurrentPath += Separator;
  Levels.push_back({std::move(Child), CurrentPath.size()});
  return {};
}

}  // namespace kerv
