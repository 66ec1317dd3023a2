#include "remover/list_file.h"

namespace kerv {

namespace {
constexpr char EndOfText = 26;  // Ctrl-Z
}

bool TListParser::Feed(std::string_view Bytes) {
  if (Ended) return false;
  for (const char C : Bytes) {
    switch (C) {
      case EndOfText:
        Ended = true;
        Finish();
        return false;
      case '\r':
        break;  // dropped: "a\rb" is the one word "ab"
      case ' ': case '\t': case '\n': case '\v': case '\f':
        if (!Word.empty()) {
          List.Add(Word);
          Word.clear();
        }
        break;
      default:
        Word += C;
    }
  }
  return true;
}

void TListParser::Finish() {
  if (!Word.empty()) List.Add(Word);
  Word.clear();
}

}  // namespace kerv
