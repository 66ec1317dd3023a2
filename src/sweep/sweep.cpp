#include "sweep/sweep.h"

#include <utility>
#include <vector>

#include "remover/remover.h"

namespace kerv {

std::string ErrorMessage(const TFsStatus& Status) {
  switch (Status.Kind) {
    case TFsError::NotFound: return "Invalid path or filename!";
    case TFsError::AccessDenied: return "Permission denied!";
    case TFsError::NoDevice: return "Invalid device!";
    case TFsError::Busy: return "Attempted to remove current directory";
    case TFsError::None:
    case TFsError::Other: break;
  }
  return "I/O Error number:" + std::to_string(Status.Code);
}

void AppendPrintable(std::string& Text, std::string_view Name) {
  if constexpr (EscapesPrintedNames) {
    for (const char C : Name) {
      const auto Byte = static_cast<unsigned char>(C);
      if (Byte >= 32 && Byte != 127 && Byte != '\\') {
        Text += C;
        continue;
      }
      const char Escape[] = {'\\', char('0' + (Byte >> 6)), char('0' + ((Byte >> 3) & 7)), char('0' + (Byte & 7))};
      Text.append(Escape, sizeof Escape);
    }
  } else {
    Text.append(Name);
  }
}

void TKerv::ShowError(const TFsStatus& Status) {
  Os.WriteErr(ErrorMessage(Status) + "\n");
}

bool TKerv::IsSelected(const TNameParts& Parts) const {
  if (!Include.empty() && !MatchesAny(Include, Parts)) return false;
  return Exclude.empty() || !MatchesAny(Exclude, Parts);
}

namespace {

// One directory of the walk: its listing and where its entries' names start
// in the path being built.
struct TLevel {
  std::unique_ptr<TDirListing> Dir;
  std::size_t PathLength;
};

}  // namespace

// The walk keeps its own stack of levels instead of calling itself, so no
// depth of tree can overflow the program's stack. A subdirectory is swept
// completely at the moment its entry comes up, as a recursive walk would.
int TKerv::ScanDir(const std::string& Directory) {
  TFsStatus Status;
  std::unique_ptr<TDirListing> Top = Os.OpenDir(Directory, Status);
  if (!Top) {
    ShowError(Status);
    return 1;
  }
  // Every file of the whole system, for real, is one unset variable away
  // ("kerv32 -R $DIR/"): refused before anything goes, as rm refuses "/".
  // Naming the files or simulating is a choice, and works as always.
  if (Recurse && !Simulate && Include.empty() && Top->IsRoot()) {
    Os.WriteErr(std::string(RootRefusal) + "\n");
    return 1;
  }
  std::string Path = Directory;
  std::vector<TLevel> Levels;
  Levels.push_back({std::move(Top), Path.size()});

  TDirEntry Entry;
  while (!Levels.empty()) {
    TLevel& Level = Levels.back();
    if (!Level.Dir->Next(Entry, Status)) {
      if (Status.Failed()) {
        ShowError(Status);
        return 1;
      }
      if (Levels.size() >= 2) {
        TDirListing& Parent = *Levels[Levels.size() - 2].Dir;
        if (const TFsStatus Back = Parent.Reacquire(*Level.Dir); Back.Failed()) {
          ShowError(Back);
          return 1;
        }
      }
      Levels.pop_back();
      continue;
    }
    // Names that start with a dot are hidden: ".", "..", and every dot file
    // and dot directory, none of which the sweep ever touches.
    if (Entry.Name[0] == '.') continue;

    if (!Entry.IsDirectory) {
      if (DealWithFile(*Level.Dir, Entry, Path, Level.PathLength) != 0) return 1;
      continue;
    }
    if (!Recurse) continue;
    Path.resize(Level.PathLength);
    Path.append(Entry.Name, Entry.NameLength);
    // Make room first, so that the child's handle is never one too many.
    if (Levels.size() >= HeldDirectoryLimit) {
      TDirListing& Far = *Levels[Levels.size() - HeldDirectoryLimit].Dir;
      if (const TFsStatus Gave = Far.Release(); Gave.Failed()) {
        ShowError(Gave);
        return 1;
      }
    }
    std::unique_ptr<TDirListing> Child = Level.Dir->OpenChild(Entry.Name, Status);
    if (!Child) {
      if (!Status.Failed()) continue;  // a link or another file system: never entered
      ShowError(Status);
      return 1;
    }
    Path += PathSeparator;
    Levels.push_back({std::move(Child), Path.size()});
  }
  return 0;
}

// Writes to standard output, and with Flush everything held before it; a
// failure is reported here, once.
bool TKerv::Write(std::string_view Text, bool Flush) {
  if (Os.WriteOut(Text) && (!Flush || Os.FlushOut())) return true;
  OutputLost = true;
  ShowError(Os.OutputError());
  return false;
}

char TKerv::AskKey() {
  for (;;) {
    const int Key = Os.ReadKey();
    if (Key == NoKey) {
      // Nobody can answer: Quit, with the question's line ended so that
      // the summary starts on a line of its own.
      Os.WriteOut("\n");
      return 'Q';
    }
    if (Key == 3) return 'Q';  // Ctrl-C, delivered as a key while we wait
    if (Key == OtherKey) continue;
    const char Letter = UpperAscii(static_cast<char>(Key));
    if (Letter == 'Y' || Letter == 'N' || Letter == 'X' || Letter == 'Q') {
      const char Echo[] = {Letter, '\n'};
      Os.WriteOut(std::string_view(Echo, 2));
      return Letter;
    }
  }
}

// Deletes, or under Simulate only reports, one file if the lists select it,
// after asking when Ask is set.
int TKerv::DealWithFile(TDirListing& Dir, const TDirEntry& Entry, std::string& Path, std::size_t PathLength) {
  if (!IsSelected(TNameParts(std::string_view(Entry.Name, Entry.NameLength)))) return 0;
  Path.resize(PathLength);
  Path.append(Entry.Name, Entry.NameLength);

  if (Ask && !Simulate) {
    Line.assign("Delete file ");
    AppendPrintable(Line, Path);
    Line.append(" ? [Yes/No/X/Quit] ");
    // Seen before the wait, whatever standard output is.
    if (!Write(Line, true)) return 1;
    switch (AskKey()) {
      case 'Q': return 1;
      case 'N': return 0;
      case 'X': Ask = false; break;  // this file and all later ones, unasked
      default: break;
    }
  }

  TFileInfo Info;
  if (const TFsStatus Status = Dir.InspectChild(Entry.Name, Info); Status.Failed()) {
    ShowError(Status);
    return 1;
  }
  Line.assign("File ");
  AppendPrintable(Line, Path);
  Line.append(" deleted!\n");
  TInterruptHold Hold(Os);
  if (!Simulate) {
    // The lines are the user's only record of what is gone: no file goes
    // unless its line is sure to be kept, with room for the summary after
    // it. A full disk, a quota or a size limit stops the run here.
    if (const TFsStatus Room = Os.ReserveOut(Line.size() + SummaryRoom); Room.Failed()) {
      OutputLost = true;
      ShowError(Room);
      return 1;
    }
    // A read-only file is protected even from a user whom the system would
    // let remove it (root on POSIX): the mark is the owner's word.
    const TFsStatus Removed = Info.ReadOnly ? TFsStatus{TFsError::AccessDenied, 0} : Dir.RemoveChild(Entry.Name);
    if (Removed.Failed()) {
      ShowError(Removed);
      return 1;
    }
  }
  if (!Write(Line)) return 1;
  ++DeletedFiles;
  DeletedBytes += static_cast<std::int64_t>(Info.Size);
  return 0;
}

}  // namespace kerv
