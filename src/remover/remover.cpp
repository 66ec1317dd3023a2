#include "remover/remover.h"

#include <cinttypes>
#include <cstdio>

#include "remover/list_file.h"
#include "sweep/sweep.h"

namespace kerv {

namespace {

constexpr std::string_view UsageText =
    "\n"
    "KERV32 (Win32) 3.2 Jul 21 1999\n\n"
    "Multi-pattern file remover\n\n"
    "Usage: KERV [options] [d:][path]filename [&|!] [filename] [@filelist]...\n"
    "options:\n\n"
    "  -Q ask before delete file\n"
    "  -R recourse subdirectories\n"
    "  -S simulate\n"
    "\n";

bool EndsWithSeparator(std::string_view Path, const TPathRules& Rules) {
  return !Path.empty() && (Path.back() == '/' || Path.back() == Rules.Separator);
}

}  // namespace

TKerv::TKerv(TPlatform& Os, const TPathRules& Rules)
    : TSweepState(Rules), Os(Os), Rules(Rules), Sweep(Os, Rules, *this) {}

void TKerv::ShowUsage() { Os.WriteErr(UsageText); }

bool TKerv::StartsOption(std::string_view Arg) const {
  if (Arg.empty() || (Arg[0] != '-' && Arg[0] != '/')) return false;
  if (Arg[0] == '-' || Rules.SlashStartsOptions) return true;
  // Elsewhere '/' starts an absolute path, except in the two characters of
  // an option such as "/S" or "/?", kept as a DOS habit.
  if (Arg.size() != 2) return false;
  switch (UpperAscii(Arg[1])) {
    case '?': case 'Q': case 'R': case 'S': return true;
    default: return false;
  }
}

// Only the second character counts; unknown letters are ignored without a
// word, as are the characters after the second. '?' reports whether the
// usage text was shown.
bool TKerv::TakeOption(std::string_view Arg) {
  switch (Arg.size() < 2 ? '\0' : UpperAscii(Arg[1])) {
    case '?': ShowUsage(); return true;
    case 'Q': Ask = true; break;
    case 'R': Recurse = true; break;
    case 'S': Simulate = true; break;
    default: break;
  }
  return false;
}

int TKerv::Run(int Argc, const char* const* Argv) {
  if (Argc < 2) {
    ShowUsage();
    return -1;
  }
  Os.InstallBreakHandler();
  TArguments Args;
  int Result = 0;
  for (int I = 1; I < Argc && Result == 0; ++I) Result = TakeArgument(Argv[I], Args);
  if (Result == 0) {
    if (Args.AwaitingBase) {
      // Only options: asking for help must not sweep the current directory.
      if (!Args.UsageShown) ShowUsage();
      Result = -1;
    } else {
      Result = SweepBaseSpec(Args);
    }
  }
  Os.RestoreBreakHandler();
  return Result;
}

// One argument: a bare operator, a prefixed spec, a list file, an option or
// a plain spec, tried in that order. 0: go on; 1: the run must stop.
int TKerv::TakeArgument(std::string_view Arg, TArguments& Args) {
  if (Arg == "&" || Arg == "!") {
    if (Arg == "!")
      Args.IncludeMode = false;
    else if (!Args.AwaitingBase)
      Args.IncludeMode = true;
    // Given first, either operator makes the current directory the base.
    if (Args.AwaitingBase) {
      std::string Current;
      if (const TFsStatus Status = Os.CurrentDirectory(Current); Status.Failed()) {
        ShowError(Status);
        return 1;
      }
      Args.BaseSpec = Current + Rules.Separator;
      Args.AwaitingBase = false;
    }
    return 0;
  }
  // "&x" and "!x" are the spec "x", in whichever list is current: the
  // operator is dropped, it never switches lists.
  const bool StripOperator = !Arg.empty() && (Arg[0] == '&' || Arg[0] == '!');
  if (!StripOperator && Arg.size() > 1 && Arg[0] == '@') {
    Args.IncludeFromList |= Args.IncludeMode;
    Args.AwaitingBase = false;
    return ReadListFile(std::string(Arg.substr(1)), Args.IncludeMode ? Include : Exclude);
  }
  if (!StripOperator && Args.AwaitingBase && StartsOption(Arg)) {
    Args.UsageShown |= TakeOption(Arg);
    return 0;
  }
  const std::string_view Spec = StripOperator ? Arg.substr(1) : Arg;
  if (Args.AwaitingBase) {
    Args.BaseSpec = Spec;
    Args.EmptyBase = Spec.empty();
    Args.AwaitingBase = false;
  } else {
    (Args.IncludeMode ? Include : Exclude).Add(Spec);
  }
  return 0;
}

// Reads every word of the list file Name into List. A file that cannot be
// read to its end is refused whole: half an exclude list would delete the
// very files it was meant to protect.
int TKerv::ReadListFile(const std::string& Name, stringList& List) {
  TFsStatus Status;
  if (std::unique_ptr<TInputFile> File = Os.OpenInput(Name, Status)) {
    TListParser Parser(List);
    static char Buffer[64 * 1024];
    for (long Got; (Got = File->Read(Buffer, sizeof Buffer, Status)) > 0;)
      if (!Parser.Feed(std::string_view(Buffer, static_cast<std::size_t>(Got)))) break;
    if (!Status.Failed()) {
      Parser.Finish();
      return 0;
    }
  }
  Line = "Error opening List File ";
  AppendPrintable(Line, Name, Rules);
  Line += '\n';
  Os.WriteOut(Line);
  Os.FlushOut();
  return 1;
}

// Turns the base spec into the directory to sweep and one include spec,
// sweeps, and writes the summary. The sweep's result: 0 or 1.
int TKerv::SweepBaseSpec(const TArguments& Args) {
  // An empty argument names nothing: an unset shell variable must not mean
  // every file here ("kerv32 -R $DIR"), as rm "" and find "" refuse it too.
  if (Args.EmptyBase) {
    ShowError({TFsError::NotFound, 0});
    WriteSummary(1);
    return 1;
  }
  const std::string BaseSpec = Rules.UpperCaseBaseSpec ? UpperCased(Args.BaseSpec) : Args.BaseSpec;
  const TPathParts Parts = SplitPath(BaseSpec, Rules);
  if (!Parts.Name.empty() || !Parts.Extension.empty())
    Include.Add(std::string(Parts.Name) + std::string(Parts.Extension));

  std::string Directory = std::string(Parts.Drive) + std::string(Parts.Directory);
  // A directory that ends in "." or ".." still needs its separator, or the
  // printed paths would run its last name into the file names.
  if (!Parts.Directory.empty() && !EndsWithSeparator(Directory, Rules)) Directory += Rules.Separator;

  // "kerv32 @files.lst", "kerv32 & @files.lst" and "kerv32 dir/ @files.lst"
  // delete the files the list names; when the include specs were to come
  // from lists alone and the lists named none, that is no file at all, not
  // every file here.
  const bool SelectsNothing = Args.IncludeFromList && Include.empty();
  const int Result = SelectsNothing ? 0 : ScanDir(Directory);
  WriteSummary(Result);
  return Result != 0 || Sweep.OutputLost() ? 1 : 0;
}

void TKerv::WriteSummary(int SweepResult) {
  char Totals[96];
  std::snprintf(Totals, sizeof Totals, "Total deleted : %6" PRId64 " files %8" PRId64 " bytes\n",
                DeletedFiles, DeletedBytes);
  Line = "\nAction ";
  if (SweepResult != 0) Line += "in";
  Line += "complete!\n\n";
  Line += Totals;
  Sweep.Write(Line, true);
}

}  // namespace kerv
