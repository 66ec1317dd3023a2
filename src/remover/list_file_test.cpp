#include "remover/list_file.h"

#include <gtest/gtest.h>

namespace kerv {
namespace {

using Strings = std::vector<std::string>;

// The words, in file order, that the bytes give when fed in chunks of Chunk.
Strings Words(const std::string& Bytes, std::size_t Chunk) {
  stringList List(PosixRules);
  TListParser Parser(List);
  for (std::size_t Pos = 0; Pos < Bytes.size(); Pos += Chunk)
    if (!Parser.Feed(std::string_view(Bytes).substr(Pos, Chunk))) break;
  Parser.Finish();
  Strings Texts = List.Texts();
  return Strings(Texts.rbegin(), Texts.rend());
}

TEST(ListParser, Words) {
  struct Row { std::string Bytes; Strings Words; };
  const Row Rows[] = {
      {"a.tmp  b.bak\n\nc.txt", {"a.tmp", "b.bak", "c.txt"}},  // a last word without newline counts
      {"", {}},
      {" \t\n\v\f ", {}},                                       // white space only
      {"a\tb\vc\fd\ne f", {"a", "b", "c", "d", "e", "f"}},
      {"a\rb", {"ab"}},                                         // a carriage return joins, never separates
      {"one\r\ntwo\r\n", {"one", "two"}},
      {"keep\x1a" "after", {"keep"}},                           // Ctrl-Z ends the text
      {"x\x1a", {"x"}},
      {std::string("a\0b c\0", 6), {"a", "b", "c"}},            // NUL separates, as in "find -print0" lists
      {"a[b]~#", {"a[b]~#"}},                                   // other bytes are word bytes
      {"-R @x &y !z", {"-R", "@x", "&y", "!z"}},                 // never options or operators
      {"\xe9t\xe9.txt", {"\xe9t\xe9.txt"}},
  };
  for (const Row& R : Rows) {
    for (std::size_t Chunk : {std::size_t{1}, std::size_t{2}, std::size_t{1000}}) {
      SCOPED_TRACE(::testing::PrintToString(R.Bytes) + " in chunks of " + std::to_string(Chunk));
      EXPECT_EQ(R.Words, Words(R.Bytes, Chunk));
    }
  }
}

TEST(ListParser, WordsOfAnyLength) {
  const std::string Long(100000, 'w');
  EXPECT_EQ((Strings{"a", Long, "b"}), Words("a " + Long + " b", 4096));
}

}  // namespace
}  // namespace kerv
