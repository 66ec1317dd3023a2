#include "matching/matching.h"

#include <gtest/gtest.h>

#include "platform/rules.h"
#include "reference_matching.h"

namespace kerv {
namespace {

struct TSplitRow { const char* Path; const char* Drive; const char* Directory; const char* Name; const char* Extension; };

// Both platforms' rules, for the tests that hold under either.
const std::pair<const char*, const TPathRules*> BothRules[] = {{"POSIX", &PosixRules}, {"Windows", &WindowsRules}};

void ExpectSplits(const std::vector<TSplitRow>& Rows, const TPathRules& Rules) {
  for (const TSplitRow& R : Rows) {
    SCOPED_TRACE(R.Path);
    const TPathParts P = SplitPath(R.Path, Rules);
    EXPECT_EQ(R.Drive, P.Drive);
    EXPECT_EQ(R.Directory, P.Directory);
    EXPECT_EQ(R.Name, P.Name);
    EXPECT_EQ(R.Extension, P.Extension);
  }
}

TEST(SplitPath, Parts) {
  for (const auto& [Name, Rules] : BothRules) {
    SCOPED_TRACE(Name);
    ExpectSplits({
      {"*.*", "", "", "*", ".*"},
      {"DIR/FILE.EXT", "", "DIR/", "FILE", ".EXT"},
      {"a.b.c", "", "", "a.b", ".c"},             // the last dot starts the extension
      {"abc.", "", "", "abc", "."},
      {".bashrc", "", "", "", ".bashrc"},
      {"..", "", "..", "", ""},                    // a last "." or ".." is a directory
      {"dir.d/name", "", "dir.d/", "name", ""},   // a dot in the directory is not an extension
      {"a/...", "", "a/", "..", "."},             // three dots are a name
      {"", "", "", "", ""},
    }, *Rules);
  }
}

// Where the platforms differ: Windows has drives and two separators; on
// POSIX '\' and ':' are ordinary characters of a name.
TEST(SplitPath, PlatformRules) {
  {
    SCOPED_TRACE("Windows");
    ExpectSplits({
        {"C:\\DIR\\SUB\\*.TMP", "C:", "\\DIR\\SUB\\", "*", ".TMP"},
        {"C:", "C:", "", "", ""},
        {"C:\\TEMP", "C:", "\\", "TEMP", ""},
        {"C:TEMP\\X.Y", "C:", "TEMP\\", "X", ".Y"},
        {"\\\\SRV\\SHR\\A.B", "", "\\\\SRV\\SHR\\", "A", ".B"},
        {"C:\\DIR\\..", "C:", "\\DIR\\..", "", ""},
        {"X:Y:Z", "X:", "", "Y:Z", ""},            // only the second character makes a drive
        {"C:.", "C:", ".", "", ""},
        {"/tmp/a\\b.c", "", "/tmp/a\\", "b", ".c"},  // both separators count
    }, WindowsRules);
  }
  {
    SCOPED_TRACE("POSIX");
    ExpectSplits({
        {"C:\\DIR\\SUB\\*.TMP", "", "", "C:\\DIR\\SUB\\*", ".TMP"},
        {"C:", "", "", "C:", ""},
        {"c:/foo.tmp", "", "c:/", "foo", ".tmp"},  // "c:" is a directory like any other
        {"c:foo.tmp", "", "", "c:foo", ".tmp"},
        {"X:Y:Z", "", "", "X:Y:Z", ""},
        {"C:.", "", "", "C:", "."},
        {"/tmp/a\\b.c", "", "/tmp/", "a\\b", ".c"},  // only '/' separates
        {"junk\\..", "", "", "junk\\.", "."},
    }, PosixRules);
  }
}

// Where a code page has double-byte characters (here: any byte 0x81 leads),
// a trail byte is never a separator, a colon, a dot or a wildcard.
TEST(SplitPath, StepsOverDoubleByteCharacters) {
  TPathRules Rules = WindowsRules;
  Rules.IsLeadByte = [](unsigned char Byte) { return Byte == 0x81; };
  ExpectSplits({
      {"\x81\\X.T", "", "", "\x81\\X", ".T"},        // the '\\' is a trail byte
      {"\x81:X", "", "", "\x81:X", ""},                // no drive behind a lead byte
      {"A\x81.B", "", "", "A\x81.B", ""},              // no dot either
      {"D\\\x81\\.\x81.", "", "D\\", "\x81\\", ".\x81."},  // the last dot is a trail byte
      {"C:\\A\x81", "C:", "\\", "A\x81", ""},          // a lead byte last stands alone
  }, Rules);
  EXPECT_TRUE(MatchesPattern(TNameParts("\x81X.TMP", Rules), TSpec("*.TMP", Rules)));
  EXPECT_FALSE(MatchesPattern(TNameParts("A\x81.TMP", Rules), TSpec("*.TMP", Rules)));  // no extension
}

TEST(SplitPath, KeepsLongPartsWhole) {
  const std::string Name(1000, 'n');
  const std::string Path = "/d/" + std::string(5000, 'x') + "/" + Name + ".ext";
  const TPathParts P = SplitPath(Path, PosixRules);
  EXPECT_EQ(Name, P.Name);
  EXPECT_EQ(".ext", P.Extension);
  EXPECT_EQ(5004u, P.Directory.size());
}

TEST(MatchPart, WildcardRules) {
  struct Row { const char* Part; const char* Pattern; bool Match; };
  const Row Rows[] = {
      {"ABC", "A*X", true},     // text after '*' is ignored
      {"ANYTHING", "*", true},  // a leading '*' matches at once
      {"", "*", true},
      {"FOO", "F?O", true},     // '?' is exactly one character
      {"fxo", "F?O", true},
      {"FOO", "F?", false},
      {"FOO", "F??X", false},
      {"FOO", "foo", true},     // without wildcards: whole, ignoring ASCII case
      {"FO", "FOO", false},
      {"FOOD", "FOO", false},
      {"FO", "FOO*", true},     // shorter than the text before '*'
      {"FO", "FOO?", false},    // '?' forces equal length
      {"FOOBAR", "FOO*", true},
      {"FXOBAR", "FOO*", false},
      {"", "", true},           // empty halves
      {"", "?", false},
      {"", ".*", true},         // an empty extension against ".*"
      {".TXT", ".*", true},
      {".TXT", ".T", false},    // an extension without '*' must have the same length
      {".", ".", true},
      {".TXT", ".", false},
      {"\xe9t\xe9", "\xc9T\xc9", false},  // bytes outside ASCII are not case-folded
      {"\xe9t\xe9", "\xe9T\xe9", true},
      {"a[b]", "A[B]", true},   // no other wildcard characters
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(std::string(R.Part) + " ~ " + R.Pattern);
    EXPECT_EQ(R.Match, MatchPart(R.Part, R.Pattern));
  }
}

TEST(MatchesPattern, WholeSpecs) {
  struct Row { const char* Entry; const char* Spec; bool Match; };
  const Row Rows[] = {
      {"FOO", "*", true},            // '*' alone: only names without an extension
      {"FOO.TXT", "*", false},
      {"FOO.TXT", "*.*", true},      // '*.*' matches every name
      {"FOO", "*.*", true},
      {"FOO.", "*.", true},          // '*.' wants a lone dot
      {"FOO", "*.", false},
      {"FOO.TXT", "*.T", false},
      {"FOO.TXT", "?.TXT", false},
      {"A.B.C", "A.*", false},       // 'A.B.C' is 'A.B' and '.C'
      {"A.B.C", "A.B.*", true},
      {"A.B.C", "???.*", true},
      {"A.B.C", "*.C", true},
      {"old.tmp", "/some/dir/*.TMP", true},  // a spec's directory takes no part
      {"x.tmp", "..", false},        // a spec that ends in ".." has empty halves
      {"-R", "-R", true},
  };
  for (const auto& [Name, Rules] : BothRules) {
    for (const Row& R : Rows) {
      SCOPED_TRACE(std::string(Name) + ": " + R.Entry + " ~ " + R.Spec);
      EXPECT_EQ(R.Match, MatchesPattern(TNameParts(R.Entry, *Rules), TSpec(R.Spec, *Rules)));
    }
  }
}

// Where the rules differ, so does what a spec or a name stands for.
TEST(MatchesPattern, PlatformRules) {
  struct Row { const char* Entry; const char* Spec; bool Posix, Windows; };
  const Row Rows[] = {
      {"old.tmp", "C:\\X\\*.TMP", false, true},  // a Windows spec's drive and directory take no part
      {"b.tmp", "junk\\b.tmp", false, true},
      {"junk\\b.tmp", "b.tmp", false, true},      // a POSIX name may hold a backslash
      {"x:b.tmp", "b.tmp", false, true},
      {"x:b.tmp", "x*.tmp", true, false},         // "x:" is a drive on Windows
      {"junk\\b.tmp", "*.tmp", true, true},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(std::string(R.Entry) + " ~ " + R.Spec);
    EXPECT_EQ(R.Posix, MatchesPattern(TNameParts(R.Entry, PosixRules), TSpec(R.Spec, PosixRules)));
    EXPECT_EQ(R.Windows, MatchesPattern(TNameParts(R.Entry, WindowsRules), TSpec(R.Spec, WindowsRules)));
  }
}

// A list answers the same whether its specs are literal names (looked up in
// a set) or wildcards (tried in turn).
TEST(MatchesAny, Lists) {
  struct Row { std::vector<const char*> Specs; const char* Entry; bool Match; };
  const Row Rows[] = {
      {{}, "FOO.TXT", false},                          // an empty list matches nothing
      {{"*.C", "*.TXT", "F*.*"}, "FOO.TXT", true},
      {{"*.C", "*.H"}, "FOO.TXT", false},
      {{"keep.txt"}, "KEEP.TXT", true},                // literal, any ASCII case
      {{"keep.txt"}, "KEEP.TXTX", false},
      {{"keep.txt"}, "keep", false},
      {{"a.b.c"}, "A.B.C", true},
      {{"dir/keep.txt"}, "keep.txt", true},            // the directory takes no part
      {{"keep"}, "keep", true},
      {{"keep."}, "keep", false},
      {{".profile"}, "x.profile", false},
      {{"..", "."}, "x", false},
      {{"\xc9t\xc9.txt"}, "\xe9t\xe9.TXT", false},      // no folding outside ASCII
      {{"one.txt", "*.c"}, "TWO.C", true},             // literal and wildcard together
  };
  for (const auto& [Name, Rules] : BothRules) {
    for (const Row& R : Rows) {
      stringList List(*Rules);
      std::string Trace = std::string(Name) + ": " + R.Entry;
      for (const char* Spec : R.Specs) {
        List.Add(Spec);
        Trace += std::string(" ") + Spec;
      }
      SCOPED_TRACE(Trace);
      EXPECT_EQ(R.Match, MatchesAny(List, TNameParts(R.Entry, *Rules)));
    }
  }
}

TEST(MatchesAny, LongLiteralNames) {
  const std::string Name = std::string(600, 'q') + ".log";
  stringList List(PosixRules);
  List.Add(Name);
  const std::string Upper = UpperCased(Name);
  EXPECT_TRUE(MatchesAny(List, TNameParts(Upper, PosixRules)));
  EXPECT_FALSE(MatchesAny(List, TNameParts(Upper.substr(1), PosixRules)));
}

TEST(stringList, NewestFirst) {
  stringList List(PosixRules);
  List.Add("*.TMP");
  List.Add("a.bak");
  List.Add("*.OLD");
  EXPECT_EQ((std::vector<std::string>{"*.OLD", "a.bak", "*.TMP"}), List.Texts());
}

}  // namespace
}  // namespace kerv

namespace kerv {
namespace {

// The matcher, with its fast split of entry names, its shortcut for "*.EXT"
// specs and its table of literal names, agrees with the plain reference of
// the rules on every short spec and name made of the characters that matter.
TEST(MatchesPattern, AgreesWithTheReferenceRules) {
  const auto Strings = [](std::string_view Alphabet, int Longest) {
    std::vector<std::string> Result{""};
    for (std::size_t From = 0; From < Result.size(); ++From)
      if (static_cast<int>(Result[From].size()) < Longest)
        for (const char C : Alphabet) Result.push_back(Result[From] + C);
    return Result;
  };
  const std::vector<std::string> Specs = Strings("a.*?B:\\", 3), Entries = Strings("aAb.\\:", 4);
  for (const auto& [Name, Rules] : BothRules) {
    const bool Windows = Rules->BackslashSeparates;
    for (const std::string& Spec : Specs) {
      const TSpec Split(Spec, *Rules);
      stringList List(*Rules);
      List.Add(Spec);
      for (const std::string& Entry : Entries) {
        const bool Expected = reference::Matches(Entry, Spec, Windows);
        if (MatchesPattern(TNameParts(Entry, *Rules), Split) != Expected ||
            MatchesAny(List, TNameParts(Entry, *Rules)) != Expected)
          FAIL() << Name << ": spec [" << Spec << "] entry [" << Entry << "] should " << (Expected ? "" : "not ")
                 << "match";
      }
    }
  }
}

// The fast split of entry names agrees with SplitPath on every string made
// of the characters that matter.
TEST(SplitEntryName, AgreesWithSplitPath) {
  const char Alphabet[] = {'a', '.', '/', '\\', ':', 'B'};
  std::string Name;
  for (const auto& [RulesName, Rules] : BothRules) {
    SCOPED_TRACE(RulesName);
    for (int Code = 0; Code < 6 * 6 * 6 * 6 * 6 * 6 * 6; ++Code) {
      Name.clear();
      for (int C = Code; C > 0; C /= 6) Name += Alphabet[C % 6];
      SCOPED_TRACE(Name);
      const TPathParts Path = SplitPath(Name, *Rules);
      const TEntryHalves Parts = SplitEntryName(Name, *Rules);
      ASSERT_EQ(Path.Name, Parts.Name);
      ASSERT_EQ(Path.Extension, Parts.Extension);
      ASSERT_EQ(std::string(Path.Name) + std::string(Path.Extension), Parts.Both);
    }
  }
}

}  // namespace
}  // namespace kerv
