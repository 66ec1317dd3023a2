#include "matching/matching.h"

#include "platform/platform.h"

namespace kerv {

namespace {

bool IsSeparator(char C) { return C == '\\' || C == '/'; }

bool HasWildcard(std::string_view Text) {
  return Text.find_first_of("*?") != std::string_view::npos;
}

bool EqualsIgnoringAsciiCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (UpperAscii(A[I]) != UpperAscii(B[I])) return false;
  return true;
}

std::string UpperCased(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result) C = UpperAscii(C);
  return Result;
}

// Splits the part after the drive into directory and last component, and
// the last component into name and extension, in one walk that steps over
// double-byte characters whole.
void SplitAfterDrive(std::string_view Rest, TPathParts& Parts) {
  std::size_t ComponentStart = 0;
  std::size_t LastDot = std::string_view::npos;
  for (std::size_t I = 0; I < Rest.size(); ++I) {
    const char C = Rest[I];
    if (IsLeadByte(static_cast<unsigned char>(C)) && I + 1 < Rest.size()) {
      ++I;
    } else if (IsSeparator(C)) {
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

TPathParts SplitPath(std::string_view Path) {
  TPathParts Parts;
  std::size_t DriveLength = 0;
  // A lead byte first makes the second byte its trail byte, never a colon.
  if (Path.size() >= 2 && Path[1] == ':' && !IsLeadByte(static_cast<unsigned char>(Path[0])))
    DriveLength = 2;
  Parts.Drive = Path.substr(0, DriveLength);
  SplitAfterDrive(Path.substr(DriveLength), Parts);
  return Parts;
}

TNameParts SplitName(std::string_view EntryName) {
  const TPathParts Parts = SplitPath(EntryName);
  return {Parts.Name, Parts.Extension, EntryName.substr(EntryName.size() - Parts.Name.size() - Parts.Extension.size())};
}

bool MatchPart(std::string_view Part, std::string_view Pattern) {
  if (!Pattern.empty() && Pattern[0] == '*') return true;
  const bool HasStar = Pattern.find('*') != std::string_view::npos;
  if (!HasStar && Pattern.find('?') == std::string_view::npos)
    return EqualsIgnoringAsciiCase(Part, Pattern);
  if (!HasStar && Part.size() != Pattern.size()) return false;
  // Walk while both have a character; a '*' ends the comparison, and
  // whichever string ends first leaves the verdict as it stands.
  const std::size_t Steps = Part.size() < Pattern.size() ? Part.size() : Pattern.size();
  for (std::size_t I = 0; I < Steps; ++I) {
    const char P = Pattern[I];
    if (P == '*') return true;
    if (P != '?' && UpperAscii(P) != UpperAscii(Part[I])) return false;
  }
  return true;
}

TSpec::TSpec(std::string Given) : Text(std::move(Given)) {
  const TPathParts Parts = SplitPath(Text);
  Name = Parts.Name;
  Extension = Parts.Extension;
  HasWildcard = kerv::HasWildcard(Name) || kerv::HasWildcard(Extension);
}

bool MatchesPattern(const TNameParts& Parts, const TSpec& Spec) {
  return MatchPart(Parts.Name, Spec.Name) && MatchPart(Parts.Extension, Spec.Extension);
}

void stringList::Add(std::string Spec) {
  TSpec Split(Spec);
  Arrived.push_back(std::move(Spec));
  if (Split.HasWildcard)
    Wildcards.push_back(std::move(Split));
  else
    // Without wildcards both halves compare whole, so a spec matches exactly
    // the entries whose upper-cased name and extension equal its own.
    Literals.insert(UpperCased(Split.Name) + UpperCased(Split.Extension));
}

std::vector<std::string> stringList::Texts() const {
  return std::vector<std::string>(Arrived.rbegin(), Arrived.rend());
}

bool MatchesAny(const stringList& List, const TNameParts& Parts) {
  for (const TSpec& Spec : List.Wildcards)
    if (MatchesPattern(Parts, Spec)) return true;
  if (List.Literals.empty()) return false;
  const std::size_t Length = Parts.Both.size();
  char Small[256];
  std::string Large;  // only for names longer than any file system allows
  char* Key = Small;
  if (Length > sizeof Small) {
    Large.resize(Length);
    Key = Large.data();
  }
  for (std::size_t I = 0; I < Length; ++I) Key[I] = UpperAscii(Parts.Both[I]);
  return List.Literals.find(std::string_view(Key, Length)) != List.Literals.end();
}

}  // namespace kerv
