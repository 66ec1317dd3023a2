// The splitter and the matcher on arbitrary bytes: the first line is a spec,
// the rest an entry name. The matcher must agree with the plain reference
// of the rules, alone and in a list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "matching/matching.h"
#include "platform/rules.h"
#include "reference_matching.h"

using namespace kerv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  const std::size_t Newline = Input.find('\n');
  const std::string_view Spec = Input.substr(0, Newline);
  const std::string_view Entry = Newline == std::string_view::npos ? std::string_view() : Input.substr(Newline + 1);

  for (const TPathRules* Rules : {&PosixRules, &WindowsRules}) {
    // Split parts are the path again, in order.
    const TPathParts Parts = SplitPath(Entry, *Rules);
    if (std::string(Parts.Drive) + std::string(Parts.Directory) + std::string(Parts.Name) +
            std::string(Parts.Extension) != Entry)
      __builtin_trap();
    const TEntryHalves Halves = SplitEntryName(Entry, *Rules);
    if (Halves.Name != Parts.Name || Halves.Extension != Parts.Extension) __builtin_trap();

    // A spec decides as the rules say, alone and in a list.
    const bool Expected = reference::Matches(Entry, Spec, Rules->BackslashSeparates);
    if (MatchesPattern(TNameParts(Entry, *Rules), TSpec(Spec, *Rules)) != Expected) __builtin_trap();
    stringList List(*Rules);
    List.Add(std::string(Spec));
    if (MatchesAny(List, TNameParts(Entry, *Rules)) != Expected) __builtin_trap();
  }
  return 0;
}
