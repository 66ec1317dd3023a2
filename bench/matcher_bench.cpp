// Microbenchmarks of the matcher: one entry name against short and long
// lists, of wildcards and of literal names.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "matching/matching.h"

namespace {

using kerv::MatchesAny;
using kerv::stringList;
using kerv::TNameParts;

const std::vector<std::string>& Names() {
  static const std::vector<std::string> Names = [] {
    std::vector<std::string> Result;
    const char* Extensions[] = {".tmp", ".TMP", ".dat", ".log", ".txt", ".o", ".tar.gz", ""};
    for (int I = 0; I < 1024; ++I) {
      std::string Name = "file";
      Name += std::to_string(I * 7919);
      Name += Extensions[I % 8];
      Result.push_back(Name);
    }
    return Result;
  }();
  return Names;
}

void Run(benchmark::State& State, const stringList& List) {
  const auto& All = Names();
  std::size_t I = 0;
  for (auto _ : State) {
    benchmark::DoNotOptimize(MatchesAny(List, TNameParts(All[I++ & 1023], kerv::PosixRules)));
  }
  State.SetItemsProcessed(State.iterations());
}

void OneSuffixSpec(benchmark::State& State) {
  stringList List(kerv::PosixRules);
  List.Add("*.tmp");
  Run(State, List);
}
BENCHMARK(OneSuffixSpec);

void OneGeneralSpec(benchmark::State& State) {
  stringList List(kerv::PosixRules);
  List.Add("f?le*.t*");
  Run(State, List);
}
BENCHMARK(OneGeneralSpec);

void WildcardSpecs(benchmark::State& State) {
  stringList List(kerv::PosixRules);
  for (int I = 0; I < State.range(0); ++I) {
    std::string Spec = "x";
    Spec += std::to_string(I);
    Spec += "*.e";
    Spec += std::to_string(I);
    Spec += "?";
    List.Add(Spec);
  }
  Run(State, List);
}
BENCHMARK(WildcardSpecs)->Arg(10)->Arg(100);

void LiteralNames(benchmark::State& State) {
  stringList List(kerv::PosixRules);
  for (int I = 0; I < State.range(0); ++I) {
    std::string Name = "keep";
    Name += std::to_string(I);
    Name += ".txt";
    List.Add(Name);
  }
  Run(State, List);
}
BENCHMARK(LiteralNames)->Arg(1)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
