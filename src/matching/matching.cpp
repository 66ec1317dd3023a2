#include "matching/matching.h"

#include <cstring>

namespace kerv {

std::string UpperCased(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result) C = UpperAscii(C);
  return Result;
}

namespace {

bool IsSeparator(char C, const TPathRules& Rules) { return C == '/' || (Rules.BackslashSeparates && C == '\\'); }

bool IsLeadByte(char C, const TPathRules& Rules) {
  return Rules.IsLeadByte && Rules.IsLeadByte(static_cast<unsigned char>(C));
}

// "x:" at the start of a path names a drive where the rules have drives; a
// lead byte first makes the second byte its trail byte, never a colon.
std::size_t DriveLength(std::string_view Path, const TPathRules& Rules) {
  return Rules.Drives && Path.size() >= 2 && Path[1] == ':' && !IsLeadByte(Path[0], Rules) ? 2 : 0;
}

// Part against a pattern that is upper-cased already.
bool EqualsUpper(std::string_view Part, std::string_view Upper) {
  if (Part.size() != Upper.size()) return false;
  for (std::size_t I = 0; I < Part.size(); ++I)
    if (UpperAscii(Part[I]) != Upper[I]) return false;
  return true;
}

// Splits the part after the drive into directory and last component, and
// the last component into name and extension, in one walk that steps over
// double-byte characters whole.
void SplitAfterDrive(std::string_view Rest, const TPathRules& Rules, TPathParts& Parts) {
  std::size_t ComponentStart = 0;
  std::size_t LastDot = std::string_view::npos;
  for (std::size_t I = 0; I < Rest.size(); ++I) {
    const char C = Rest[I];
    if (IsLeadByte(C, Rules) && I + 1 < Rest.size()) {
      ++I;
    } else if (IsSeparator(C, Rules)) {
      ComponentStart = I + 1;
      LastDot = std::string_view::npos;
    } else if (C == '.') {
      LastDot = I;
    }
  }
  const std::string_view Last = Rest.substr(ComponentStart);
  if (Last == "." || Last == "..") {
    Parts.Directory = Rest;
    return;
  }
  Parts.Directory = Rest.substr(0, ComponentStart);
  if (LastDot == std::string_view::npos) {
    Parts.Name = Last;
  } else {
    Parts.Name = Rest.substr(ComponentStart, LastDot - ComponentStart);
    Parts.Extension = Rest.substr(LastDot);
  }
}

}  // namespace

TPathParts SplitPath(std::string_view Path, const TPathRules& Rules) {
  TPathParts Parts;
  const std::size_t Drive = DriveLength(Path, Rules);
  Parts.Drive = Path.substr(0, Drive);
  SplitAfterDrive(Path.substr(Drive), Rules, Parts);
  return Parts;
}

// The same split as SplitPath's name and extension: where no code page has
// double-byte characters, one backward walk finds the last dot and the last
// separator.
TEntryHalves SplitEntryName(std::string_view EntryName, const TPathRules& Rules) {
  if (Rules.IsLeadByte) {
    const TPathParts Parts = SplitPath(EntryName, Rules);
    return {Parts.Name, Parts.Extension,
            EntryName.substr(EntryName.size() - Parts.Name.size() - Parts.Extension.size())};
  }
  const std::size_t Drive = DriveLength(EntryName, Rules);
  // Back to the last dot: the extension is usually a few characters long.
  std::size_t Dot = EntryName.size();
  while (Dot > Drive && EntryName[Dot - 1] != '.' && !IsSeparator(EntryName[Dot - 1], Rules)) --Dot;
  std::size_t Start = Dot;
  if (Dot > Drive && EntryName[Dot - 1] == '.') {
    // Before the dot, only a separator matters; memchr scans for it fast.
    --Dot;
    const char* Begin = EntryName.data() + Drive;
    const std::size_t Length = Dot - Drive;
    const void* Slash = std::memchr(Begin, '/', Length);
    const void* Backslash = Rules.BackslashSeparates ? std::memchr(Begin, '\\', Length) : nullptr;
    Start = Drive;
    if (Slash || Backslash) {
      Start = Dot;
      while (Start > Drive && !IsSeparator(EntryName[Start - 1], Rules)) --Start;
    }
  } else {
    Dot = std::string_view::npos;
  }
  const std::string_view Last = EntryName.substr(Start);
  if (Last == "." || Last == "..") return {Last.substr(0, 0), Last.substr(0, 0), Last.substr(Last.size())};
  if (Dot == std::string_view::npos) return {Last, Last.substr(Last.size()), Last};
  return {EntryName.substr(Start, Dot - Start), EntryName.substr(Dot), Last};
}

namespace {

TPatternHalf::TKind Classify(std::string_view Pattern) {
  if (!Pattern.empty() && Pattern[0] == '*') return TPatternHalf::Anything;
  if (Pattern.find('*') != std::string_view::npos) return TPatternHalf::Prefix;
  if (Pattern.find('?') != std::string_view::npos) return TPatternHalf::Fixed;
  return TPatternHalf::Exact;
}

// Walks both strings while both have a character: a '*' ends the walk with
// a match, '?' accepts any character, and the first other difference is a
// mismatch. Whichever string ends first leaves the verdict a match.
bool Walk(std::string_view Part, std::string_view UpperPattern) {
  const std::size_t Steps = Part.size() < UpperPattern.size() ? Part.size() : UpperPattern.size();
  for (std::size_t I = 0; I < Steps; ++I) {
    const char P = UpperPattern[I];
    if (P == '*') return true;
    if (P != '?' && P != UpperAscii(Part[I])) return false;
  }
  return true;
}

}  // namespace

TPatternHalf::TPatternHalf(std::string_view Pattern) : Upper(UpperCased(Pattern)), Kind(Classify(Pattern)) {}

bool TPatternHalf::Matches(std::string_view Part) const {
  switch (Kind) {
    case Anything: return true;
    case Exact: return EqualsUpper(Part, Upper);
    case Fixed: return Part.size() == Upper.size() && Walk(Part, Upper);
    case Prefix: return Walk(Part, Upper);
  }
  return false;
}

bool MatchPart(std::string_view Part, std::string_view Pattern) { return TPatternHalf(Pattern).Matches(Part); }

TSpec::TSpec(std::string_view Text, const TPathRules& Rules) : TSpec(SplitPath(Text, Rules)) {}

TSpec::TSpec(const TPathParts& Parts) : Name(Parts.Name), Extension(Parts.Extension) {
  // An extension of two characters or more cannot be the end of "." or "..".
  IsSuffix = Name.Kind == TPatternHalf::Anything && Extension.Kind == TPatternHalf::Exact && Extension.Upper.size() >= 2;
}

bool MatchesPattern(const TNameParts& Parts, const TSpec& Spec) {
  // The ending decides unless a drive ("x:") reaches into it; where double-
  // byte characters exist, a dot may be a trail byte, so the halves decide.
  const TPathRules& Rules = Parts.PathRules();
  if (Spec.IsSuffix && !Rules.IsLeadByte) {
    const std::string_view Whole = Parts.Whole();
    const std::size_t Length = Spec.Extension.Upper.size();
    const std::size_t Drive = DriveLength(Whole, Rules);
    if (Whole.size() >= Length + Drive)
      return EqualsUpper(Whole.substr(Whole.size() - Length), Spec.Extension.Upper);
    if (Drive == 0) return false;
  }
  const TEntryHalves& Halves = Parts.Halves();
  return Spec.Name.Matches(Halves.Name) && Spec.Extension.Matches(Halves.Extension);
}

namespace {

// FNV-1a over the upper-cased bytes.
std::uint64_t KeyHash(std::string_view Key) {
  std::uint64_t Hash = 14695981039346656037ull;
  for (const char C : Key) Hash = (Hash ^ static_cast<unsigned char>(UpperAscii(C))) * 1099511628211ull;
  return Hash;
}

}  // namespace

std::string_view stringList::Item(const std::string& Pool, const std::vector<std::size_t>& Starts, std::size_t Index) {
  const std::size_t End = Index + 1 < Starts.size() ? Starts[Index + 1] : Pool.size();
  return std::string_view(Pool).substr(Starts[Index], End - Starts[Index]);
}

void stringList::Add(std::string_view Spec) {
  TextStarts.push_back(TextPool.size());
  TextPool.append(Spec);
  const TPathParts Parts = SplitPath(Spec, Rules);
  const bool Wild = Parts.Name.find_first_of("*?") != std::string_view::npos ||
                    Parts.Extension.find_first_of("*?") != std::string_view::npos;
  if (Wild) {
    Wildcards.emplace_back(Parts);
    return;
  }
  // Without wildcards both halves compare whole, so a spec matches exactly
  // the entries whose upper-cased name and extension equal its own; and the
  // two halves stand side by side at the end of the spec.
  const std::string_view Key = Spec.substr(Spec.size() - Parts.Name.size() - Parts.Extension.size());
  if (!HasLiteral(Key)) AddLiteral(UpperCased(Key));
}

bool stringList::HasLiteral(std::string_view Key) const {
  if (Table.empty()) return false;
  const std::uint32_t Hash = static_cast<std::uint32_t>(KeyHash(Key));
  const std::size_t Mask = Table.size() - 1;
  for (std::size_t Slot = Hash & Mask;; Slot = (Slot + 1) & Mask) {
    const std::uint64_t Entry = Table[Slot];
    if (Entry == 0) return false;
    if (Entry >> 32 == Hash && EqualsUpper(Key, Item(KeyPool, KeyStarts, static_cast<std::size_t>(Entry & 0xffffffffu) - 1))) return true;
  }
}

void stringList::AddLiteral(std::string_view UpperKey) {
  if ((KeyStarts.size() + 1) * 2 > Table.size()) GrowTable();
  KeyStarts.push_back(KeyPool.size());
  KeyPool.append(UpperKey);
  const std::uint32_t Hash = static_cast<std::uint32_t>(KeyHash(UpperKey));
  const std::size_t Mask = Table.size() - 1;
  std::size_t Slot = Hash & Mask;
  while (Table[Slot] != 0) Slot = (Slot + 1) & Mask;
  Table[Slot] = (static_cast<std::uint64_t>(Hash) << 32) | KeyStarts.size();
}

// Keeps the table at most half full, so that a probe ends soon.
void stringList::GrowTable() {
  std::vector<std::uint64_t> Bigger(Table.empty() ? 16 : Table.size() * 2, 0);
  const std::size_t Mask = Bigger.size() - 1;
  for (const std::uint64_t Entry : Table) {
    if (Entry == 0) continue;
    std::size_t Slot = static_cast<std::size_t>(Entry >> 32) & Mask;
    while (Bigger[Slot] != 0) Slot = (Slot + 1) & Mask;
    Bigger[Slot] = Entry;
  }
  Table.swap(Bigger);
}

std::vector<std::string> stringList::Texts() const {
  std::vector<std::string> Result;
  for (std::size_t I = TextStarts.size(); I-- > 0;) Result.emplace_back(Item(TextPool, TextStarts, I));
  return Result;
}

bool MatchesAny(const stringList& List, const TNameParts& Parts) {
  for (const TSpec& Spec : List.Wildcards)
    if (MatchesPattern(Parts, Spec)) return true;
  return !List.Table.empty() && List.HasLiteral(Parts.Halves().Both);
}

}  // namespace kerv
