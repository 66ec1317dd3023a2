// The list-file reader on arbitrary bytes, fed in chunks of a size the
// input chooses, against a plain reading of the same rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "remover/list_file.h"

using namespace kerv;

namespace {

std::vector<std::string> Reference(const std::string& Bytes) {
  std::string Text;
  for (const char C : Bytes) {
    if (C == 26) break;
    if (C != '\r') Text += C;
  }
  std::vector<std::string> Words;
  std::string Word;
  for (const char C : Text) {
    if (C == ' ' || C == '\t' || C == '\n' || C == '\v' || C == '\f' || C == '\0') {
      if (!Word.empty()) Words.push_back(Word);
      Word.clear();
    } else {
      Word += C;
    }
  }
  if (!Word.empty()) Words.push_back(Word);
  return Words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  const std::size_t Chunk = Data[0] % 16 + 1;
  const std::string Bytes(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  stringList List(PosixRules);
  TListParser Parser(List);
  for (std::size_t Pos = 0; Pos < Bytes.size(); Pos += Chunk)
    if (!Parser.Feed(std::string_view(Bytes).substr(Pos, Chunk))) break;
  Parser.Finish();
  std::vector<std::string> Texts = List.Texts();
  if (std::vector<std::string>(Texts.rbegin(), Texts.rend()) != Reference(Bytes)) __builtin_trap();
  return 0;
}
