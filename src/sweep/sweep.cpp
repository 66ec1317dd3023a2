#include "sweep/sweep.h"

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

void AppendPrintable(std::string& Text, std::string_view Name, const TPathRules& Rules) {
  if (!Rules.EscapesPrintedNames) {
    Text.append(Name);
    return;
  }
  // Runs of plain bytes go in whole: nearly every name is one such run.
  std::size_t Plain = 0;
  for (std::size_t I = 0; I < Name.size(); ++I) {
    const auto Byte = static_cast<unsigned char>(Name[I]);
    if (Byte >= 32 && Byte != 127 && Byte != '\\') continue;
    Text.append(Name.data() + Plain, I - Plain);
    const char Escape[] = {'\\', char('0' + (Byte >> 6)), char('0' + ((Byte >> 3) & 7)), char('0' + (Byte & 7))};
    Text.append(Escape, sizeof Escape);
    Plain = I + 1;
  }
  Text.append(Name.data() + Plain, Name.size() - Plain);
}

void TSweep::ShowError(const TFsStatus& Status) { Os.WriteErr(ErrorMessage(Status) + "\n"); }

bool TSweep::Write(std::string_view Text, bool Flush) {
  if (Os.WriteOut(Text) && (!Flush || Os.FlushOut())) return true;
  if (!Lost) ShowError(Os.OutputError());
  Lost = true;
  return false;
}

int TSweep::ScanDir(const std::string& Directory) {
  TWalk Walk(Os, Rules.Separator);
  if (const TFsStatus Opened = Walk.Open(Directory); Opened.Failed()) {
    ShowError(Opened);
    return 1;
  }
  // Every file of the whole system, for real, is one unset variable away
  // ("kerv32 -R $DIR/"): refused before anything goes, as rm refuses "/".
  // Naming the files or simulating is a choice, and works as always.
  if (State.Recurse && !State.Simulate && State.Include.empty() && Walk.Top().IsRoot()) {
    Os.WriteErr(std::string(RootRefusal) + "\n");
    return 1;
  }
  TDirEntry Entry;
  TFsStatus Status;
  while (Walk.Next(Entry, Status)) {
    // Names that start with a dot are hidden: ".", "..", and every dot file
    // and dot directory, none of which the sweep ever touches.
    if (Entry.Name[0] == '.') continue;
    if (!Entry.IsDirectory) {
      if (DealWithFile(Walk, Entry) != 0) return 1;
    } else if (State.Recurse) {
      if (const TFsStatus Entered = Walk.Enter(Entry); Entered.Failed()) {
        ShowError(Entered);
        return 1;
      }
    }
  }
  if (Status.Failed()) {
    ShowError(Status);
    return 1;
  }
  return 0;
}

bool TSweep::IsSelected(std::string_view Name) const {
  const TNameParts Parts(Name, Rules);
  if (!State.Include.empty() && !MatchesAny(State.Include, Parts)) return false;
  return State.Exclude.empty() || !MatchesAny(State.Exclude, Parts);
}

void TSweep::SetLine(const char* Head, const TWalk& Walk, std::string_view Name, const char* Tail) {
  Line.assign(Head);
  AppendPrintable(Line, Walk.Path(), Rules);
  AppendPrintable(Line, Name, Rules);
  Line.append(Tail);
}

char TSweep::AskKey() {
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
int TSweep::DealWithFile(TWalk& Walk, const TDirEntry& Entry) {
  const std::string_view Name(Entry.Name, Entry.NameLength);
  if (!IsSelected(Name)) return 0;
  if (State.Ask && !State.Simulate) {
    SetLine("Delete file ", Walk, Name, " ? [Yes/No/X/Quit] ");
    // Seen before the wait, whatever standard output is.
    if (!Write(Line, true)) return 1;
    switch (AskKey()) {
      case 'Q': return 1;
      case 'N': return 0;
      case 'X': State.Ask = false; break;  // this file and all later ones, unasked
      default: break;
    }
  }
  TFileInfo Info;
  if (const TFsStatus Status = Walk.Directory().InspectChild(Entry.Name, Info); Status.Failed()) {
    ShowError(Status);
    return 1;
  }
  SetLine("File ", Walk, Name, " deleted!\n");
  if (RemoveAndReport(Walk.Directory(), Entry.Name, Info) != 0) return 1;
  ++State.DeletedFiles;
  State.DeletedBytes += static_cast<std::int64_t>(Info.Size);
  return 0;
}

// The removal and its line, under one hold: no interrupt falls between the
// two, and no file goes unless its line is sure to be kept.
int TSweep::RemoveAndReport(TDirListing& Dir, const char* Name, const TFileInfo& Info) {
  TInterruptHold Hold(Os);
  if (!State.Simulate) {
    // The lines are the user's only record of what is gone: room for this
    // one, and for the summary after it. A full disk, a quota or a size
    // limit stops the run here.
    if (const TFsStatus Room = Os.ReserveOut(Line.size() + SummaryRoom); Room.Failed()) {
      Lost = true;
      ShowError(Room);
      return 1;
    }
    // A read-only file is protected even from a user whom the system would
    // let remove it (root on POSIX): the mark is the owner's word.
    const TFsStatus Removed = Info.ReadOnly ? TFsStatus{TFsError::AccessDenied, 0} : Dir.RemoveChild(Name);
    if (Removed.Failed()) {
      ShowError(Removed);
      return 1;
    }
  }
  return Write(Line) ? 0 : 1;
}

}  // namespace kerv
