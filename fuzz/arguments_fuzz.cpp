// The whole command, from arguments to exit status, over the fake platform:
// arguments are the input split at NUL bytes. Whatever they say, the run
// must end with a status of the program's, remove only files it reports,
// and remove nothing when it simulates.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "remover/remover.h"
#include "sweep/sweep.h"

using namespace kerv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  std::vector<std::string> Args{"kerv32"};
  std::string Current;
  for (std::size_t I = 0; I < Size && Args.size() < 64; ++I) {
    if (Data[I] == 0) {
      Args.push_back(Current);
      Current.clear();
    } else {
      Current += static_cast<char>(Data[I]);
    }
  }
  if (!Current.empty()) Args.push_back(Current);
  std::vector<const char*> Argv;
  for (const std::string& Arg : Args) Argv.push_back(Arg.c_str());

  TFakePlatform Os;
  Os.Cwd = "/work";
  for (const char* File : {"work/a.tmp", "work/B.TXT", "work/.hidden", "work/sub/c.tmp", "work/sub/deep/d",
                           "work/-R", "work/@", "T/x.tmp", "T/y.doc", "T/sub/z.tmp"})
    Os.AddFile(File, 3);
  Os.AddDir("work/link").IsLink = true;
  Os.Inputs["keep.lst"] = {"a.tmp *.doc\r\n-R"};
  Os.Inputs["broken.lst"] = {"a.tmp", true};
  Os.Keys = {'y', 'n', 'x'};

  TKerv Kerv(Os);
  const int Status = Kerv.Run(static_cast<int>(Argv.size()), Argv.data());
  if (Status < -1 || Status > 1) __builtin_trap();
  if (Kerv.Simulate && !Os.Removed.empty()) __builtin_trap();
  for (const std::string& Path : Os.Removed) {
    std::string Line = "File ";
    AppendPrintable(Line, Path, NativeRules());  // as printed: control bytes escaped
    if (Os.Out.find(Line + " deleted!\n") == std::string::npos) __builtin_trap();
  }
  if (Kerv.DeletedFiles < static_cast<std::int64_t>(Os.Removed.size())) __builtin_trap();
  return 0;
}
