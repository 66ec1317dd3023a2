#include "remover/remover.h"

#include <cinttypes>
#include <cstdio>

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

bool EndsWithSeparator(std::string_view Path) {
  return !Path.empty() && (Path.back() == '\\' || Path.back() == '/');
}

}  // namespace

TKerv::TKerv(TPlatform& Os) : Os(Os) {}

void TKerv::ShowUsage() { Os.WriteErr(UsageText); }

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

  bool AwaitingBase = true;
  bool UsageShown = false;
  std::string BaseSpec;
  for (int I = 1; I < Argc; ++I) {
    const std::string_view Arg = Argv[I];
    if (AwaitingBase && StartsOption(Arg)) {
      UsageShown |= TakeOption(Arg);
    } else if (AwaitingBase) {
      BaseSpec = Arg;
      AwaitingBase = false;
    } else {
      Include.Add(std::string(Arg));
    }
  }

  // Only options: asking for help must not sweep the current directory.
  if (AwaitingBase) {
    if (!UsageShown) ShowUsage();
    Os.RestoreBreakHandler();
    return -1;
  }

  if (UpperCaseBaseSpec)
    for (char& C : BaseSpec) C = UpperAscii(C);
  const TPathParts Parts = SplitPath(BaseSpec);
  if (!Parts.Name.empty() || !Parts.Extension.empty())
    Include.Add(std::string(Parts.Name) + std::string(Parts.Extension));

  std::string Directory = std::string(Parts.Drive) + std::string(Parts.Directory);
  // A directory that ends in "." or ".." still needs its separator, or the
  // printed paths would run its last name into the file names.
  if (!Parts.Directory.empty() && !EndsWithSeparator(Directory)) Directory += PathSeparator;
  if (!HasDrives && Parts.Directory.empty() && !Parts.Drive.empty()) Directory += PathSeparator;

  const int Result = ScanDir(Directory);
  WriteSummary(Result);
  Os.RestoreBreakHandler();
  return Result != 0 || OutputLost ? 1 : 0;
}

void TKerv::WriteSummary(int SweepResult) {
  char Totals[96];
  std::snprintf(Totals, sizeof Totals, "Total deleted : %6" PRId64 " files %8" PRId64 " bytes\n",
                DeletedFiles, DeletedBytes);
  Line = "\nAction ";
  if (SweepResult != 0) Line += "in";
  Line += "complete!\n\n";
  Line += Totals;
  if ((!Os.WriteOut(Line) || !Os.FlushOut()) && !OutputLost) {
    OutputLost = true;
    ShowError(Os.OutputError());
  }
}

}  // namespace kerv
