// Name matching by the rules of short DOS-style names: a spec's name and
// extension halves are compared with an entry's halves; '*' ends the
// comparison, '?' stands for exactly one character, ASCII letters compare
// without regard to case and no other byte is case-folded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rules.h"

namespace kerv {

// A path split into its four parts, each a view into the path that was
// split. Concatenated in order they give the path back.
struct TPathParts {
  std::string_view Drive;      // "C:" where the rules have drives and the second character is ':'
  std::string_view Directory;  // up to and including the last separator
  std::string_view Name;       // the last component without its extension
  std::string_view Extension;  // from the last '.' of the last component
};

// Splits Path by Rules: '/' separates, and '\' too where the rules say so; a
// drive only where the rules have drives. A last component "." or ".."
// belongs to the directory. A ':' elsewhere, '*' and '?' are ordinary
// characters. No part is cut, whatever its length.
TPathParts SplitPath(std::string_view Path, const TPathRules& Rules);

// Only the two halves of a directory entry's bare name, as SplitPath gives
// them, found faster: this runs for every entry of the sweep.
struct TEntryHalves {
  std::string_view Name;
  std::string_view Extension;
  std::string_view Both;  // Name followed at once by Extension
};
TEntryHalves SplitEntryName(std::string_view EntryName, const TPathRules& Rules);

// A directory entry's name as the tests use it. The halves are split on
// first use: a spec such as "*.TMP" needs only the name's ending.
class TNameParts {
public:
  TNameParts(std::string_view EntryName, const TPathRules& Rules) : Entry(EntryName), Rules(Rules) {}
  std::string_view Whole() const { return Entry; }
  const TPathRules& PathRules() const { return Rules; }
  const TEntryHalves& Halves() const {
    if (!IsSplit) {
      Split = SplitEntryName(Entry, Rules);
      IsSplit = true;
    }
    return Split;
  }

private:
  std::string_view Entry;
  const TPathRules& Rules;
  mutable TEntryHalves Split;
  mutable bool IsSplit = false;
};

// One half of an entry (Part) against the same half of a spec (Pattern).
bool MatchPart(std::string_view Part, std::string_view Pattern);

// One half of a spec, classified once so that matching does not scan the
// pattern again for every file.
struct TPatternHalf {
  enum TKind {
    Anything,  // begins with '*'
    Exact,     // no wildcard: equal length and letters
    Fixed,     // '?' but no '*': equal length, '?' matches any character
    Prefix,    // a '*' after some characters: they must match as far as both go
  };
  explicit TPatternHalf(std::string_view Pattern);
  bool Matches(std::string_view Part) const;

  std::string Upper;  // the pattern, ASCII letters upper-cased
  TKind Kind;
};

// A spec split once, when it enters a list: only its name and extension
// take part in matching, its drive and directory never do.
struct TSpec {
  TSpec(std::string_view Text, const TPathRules& Rules);
  TSpec(const TPathParts& Parts);
  TPatternHalf Name;
  TPatternHalf Extension;
  // "*.EXT": any name with exactly this extension. The extension runs from
  // the last dot, so an entry has it exactly when its name ends with it, and
  // the entry need not be split.
  bool IsSuffix = false;
};

bool MatchesPattern(const TNameParts& Parts, const TSpec& Spec);

// An ordered list of specs; new specs enter at the front. The only question
// asked of a list is whether any spec matches, so order never changes a
// result. Specs without wildcards are also kept in a hash table, so that a
// list of thousands of literal names costs about what a list of one does.
// Texts and keys live in two flat pools: a list file of millions of names
// takes a few dozen bytes a name and no allocation of its own for each.
class stringList {
public:
  // Specs split by Rules.
  explicit stringList(const TPathRules& Rules) : Rules(Rules) {}
  void Add(std::string_view Spec);
  bool empty() const { return TextStarts.empty(); }
  // The specs in list order: the newest first.
  std::vector<std::string> Texts() const;

private:
  friend bool MatchesAny(const stringList& List, const TNameParts& Parts);
  static std::string_view Item(const std::string& Pool, const std::vector<std::size_t>& Starts, std::size_t Index);
  // Whether Key, upper-cased as it is read, is one of the literal keys.
  bool HasLiteral(std::string_view Key) const;
  void AddLiteral(std::string_view UpperKey);
  void GrowTable();

  const TPathRules& Rules;
  std::string TextPool;                  // every spec as given, in arrival order
  std::vector<std::size_t> TextStarts;   // where each one starts in TextPool
  std::vector<TSpec> Wildcards;          // the specs with a wildcard
  std::string KeyPool;                   // the others' upper-cased name + extension, once each
  std::vector<std::size_t> KeyStarts;
  // Open addressing: the low 32 bits of the key's hash, then its index + 1;
  // 0 for an empty slot. The hash bits spare most probes a look at the key,
  // and the table grows without hashing any key again.
  std::vector<std::uint64_t> Table;
};

// True when some spec of List matches Parts; an empty list matches nothing.
bool MatchesAny(const stringList& List, const TNameParts& Parts);

// ASCII upper-casing, the only case folding the program does.
inline char UpperAscii(char C) { return (C >= 'a' && C <= 'z') ? char(C - 'a' + 'A') : C; }
std::string UpperCased(std::string_view Text);

}  // namespace kerv
