#include "remover/list_file.h"

namespace kerv {

namespace {
constexpr char EndOfText = 26;  // Ctrl-Z
}

namespace {
// A NUL byte separates too: no word can hold one, and lists written by
// "find -print0" read as they should.
bool IsWhiteSpace(char C) { return C == ' ' || C == '\t' || C == '\n' || C == '\v' || C == '\f' || C == '\0'; }
}  // namespace

bool TListParser::Feed(std::string_view Bytes) {
  if (Ended) return false;
  std::size_t I = 0;
  while (I < Bytes.size()) {
    const char C = Bytes[I];
    if (C == EndOfText) {
      Ended = true;
      Finish();
      return false;
    }
    if (C == '\r') {  // dropped: "a\rb" is the one word "ab"
      ++I;
    } else if (IsWhiteSpace(C)) {
      if (!Word.empty()) {
        List.Add(Word);
        Word.clear();
      }
      ++I;
    } else {
      // A run of word bytes goes in at once.
      std::size_t Stop = I + 1;
      while (Stop < Bytes.size() && !IsWhiteSpace(Bytes[Stop]) && Bytes[Stop] != '\r' && Bytes[Stop] != EndOfText)
        ++Stop;
      Word.append(Bytes.substr(I, Stop - I));
      I = Stop;
    }
  }
  return true;
}

void TListParser::Finish() {
  if (!Word.empty()) List.Add(Word);
  Word.clear();
}

}  // namespace kerv
