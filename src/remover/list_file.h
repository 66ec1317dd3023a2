// The words of a list file, as specs. The bytes are read as text the same
// way on every platform: carriage returns are dropped before words form, a
// Ctrl-Z byte ends the text, and words are separated by space, tab, line
// feed, vertical tab, form feed and NUL. A word may be of any length.
#pragma once

#include <string>
#include <string_view>

#include "matching/matching.h"

namespace kerv {

class TListParser {
public:
  explicit TListParser(stringList& List) : List(List) {}
  // Takes the next bytes of the file; false once the text has ended (Ctrl-Z),
  // after which nothing more needs to be read.
  bool Feed(std::string_view Bytes);
  // Takes the word that the end of the file cut off.
  void Finish();

private:
  stringList& List;
  std::string Word;
  bool Ended = false;
};

}  // namespace kerv
