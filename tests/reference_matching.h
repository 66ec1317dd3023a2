// The wildcard rules as README states them, in the plainest code: no fast
// paths, no classified patterns, nothing shared with the matcher. Tests and
// the fuzzer check the matcher against it.
#pragma once

#include <string>
#include <string_view>

namespace kerv::reference {

inline char Upper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }

// One half of a name against the same half of a spec: '?' stands for
// exactly one character, '*' ends the comparison (so the text before it
// must agree as far as both go), and without '*' the lengths must agree.
// Only ASCII letters ignore case.
inline bool HalfMatches(std::string_view Part, std::string_view Pattern) {
  const std::size_t Star = Pattern.find('*');
  const std::string_view Fixed = Pattern.substr(0, Star);
  if (Star == std::string_view::npos && Part.size() != Fixed.size()) return false;
  for (std::size_t I = 0; I < Fixed.size() && I < Part.size(); ++I)
    if (Fixed[I] != '?' && Upper(Fixed[I]) != Upper(Part[I])) return false;
  return true;
}

struct THalves {
  std::string Name, Extension;
};

// The last component of Path, split at its last dot; "." and ".." have
// empty halves. Windows rules: a drive "x:" first, and '\' separates too.
inline THalves Halves(std::string_view Path, bool WindowsRules) {
  if (WindowsRules && Path.size() >= 2 && Path[1] == ':') Path.remove_prefix(2);
  const std::size_t Separator = Path.find_last_of(WindowsRules ? "/\\" : "/");
  const std::string_view Last = Separator == std::string_view::npos ? Path : Path.substr(Separator + 1);
  if (Last == "." || Last == "..") return {};
  const std::size_t Dot = Last.rfind('.');
  if (Dot == std::string_view::npos) return {std::string(Last), ""};
  return {std::string(Last.substr(0, Dot)), std::string(Last.substr(Dot))};
}

// A spec matches an entry when both halves match; its directory takes no part.
inline bool Matches(std::string_view Entry, std::string_view Spec, bool WindowsRules) {
  const THalves E = Halves(Entry, WindowsRules), S = Halves(Spec, WindowsRules);
  return HalfMatches(E.Name, S.Name) && HalfMatches(E.Extension, S.Extension);
}

}  // namespace kerv::reference
