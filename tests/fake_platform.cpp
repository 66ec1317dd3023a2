#include "fake_platform.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace kerv {

namespace {

std::vector<std::string> Components(const std::string& Path) {
  std::vector<std::string> Result;
  std::size_t Start = 0;
  while (Start <= Path.size()) {
    std::size_t Stop = Path.find_first_of(NativeRules().BackslashSeparates ? "/\\" : "/", Start);
    if (Stop == std::string::npos) Stop = Path.size();
    const std::string Name = Path.substr(Start, Stop - Start);
    if (NativeRules().Drives && Name.size() == 2 && Name[1] == ':') {
      // a drive: the fake has one
    } else if (Name == "..") {
      if (!Result.empty()) Result.pop_back();
    } else if (!Name.empty() && Name != ".") {
      Result.push_back(Name);
    }
    Start = Stop + 1;
  }
  return Result;
}

bool SameName(const std::string& A, const std::string& B) {
  if (!NativeRules().UpperCaseBaseSpec) return A == B;
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::toupper(static_cast<unsigned char>(X)) == std::toupper(static_cast<unsigned char>(Y));
         });
}

}  // namespace

class TFakeListing final : public TDirListing {
public:
  TFakeListing(TFakePlatform& Os, TFakePlatform::TNode& Node, std::string Path, TFakeListing* Parent = nullptr)
      : Os(Os), Node(Node), Path(std::move(Path)), Parent(Parent) {
    Os.HeldMost = std::max(Os.HeldMost, ++Os.HeldNow);
  }
  ~TFakeListing() override {
    if (Held) --Os.HeldNow;
  }

  bool Next(TDirEntry& Entry, TFsStatus& Status) override {
    // "." and ".." come first, as on a real disk.
    static const char* const Dots[] = {".", ".."};
    if (Index < 2) {
      Entry.Name = Dots[Index];
      Entry.NameLength = Index + 1;
      Entry.IsDirectory = true;
      ++Index;
      return true;
    }
    while (Index - 2 < Node.Children.size()) {
      auto& [Name, Child] = Node.Children[Index - 2];
      if (auto It = Os.NextFailures.find(Path + Name); It != Os.NextFailures.end()) {
        Status = It->second;
        return false;
      }
      ++Index;
      if (Child->Gone) continue;
      Entry.Name = Name.c_str();
      Entry.NameLength = Name.size();
      Entry.IsDirectory = Child->IsDirectory && !Child->IsLink;
      return true;
    }
    return false;
  }

  std::unique_ptr<TDirListing> OpenChild(const char* Name, TFsStatus& Status) override {
    Check();
    const std::string ChildPath = Path + Name;
    if (auto It = Os.OpenFailures.find(ChildPath); It != Os.OpenFailures.end()) {
      Status = It->second;
      return nullptr;
    }
    TFakePlatform::TNode* Child = Find(Name);
    if (!Child || !Child->IsDirectory) {
      Status = {TFsError::NotFound, 2};
      return nullptr;
    }
    if (Child->IsLink || Child->MountRoot) return nullptr;
    return std::make_unique<TFakeListing>(Os, *Child, ChildPath + NativeRules().Separator, this);
  }

  bool IsRoot() const override { return &Node == Os.Root.get(); }

  TFsStatus InspectChild(const char* Name, TFileInfo& Info) override {
    Check();
    const std::string ChildPath = Path + Name;
    if (ChildPath == Os.LossPath) Os.OutFailure = Os.LossFailure;
    if (auto It = Os.InspectFailures.find(ChildPath); It != Os.InspectFailures.end()) return It->second;
    TFakePlatform::TNode* Child = Find(Name);
    if (!Child) return {TFsError::NotFound, 2};
    Info.Size = Child->Size;
    Info.ReadOnly = Child->ReadOnly;
    return {};
  }

  TFsStatus RemoveChild(const char* Name) override {
    Check();
    const std::string ChildPath = Path + Name;
    if (auto It = Os.RemoveFailures.find(ChildPath); It != Os.RemoveFailures.end()) return It->second;
    TFakePlatform::TNode* Child = Find(Name);
    if (!Child) return {TFsError::NotFound, 2};
    Child->Gone = true;
    Os.Removed.push_back(ChildPath);
    if (ChildPath == Os.InterruptPath) {
      if (Os.HoldDepth > 0)
        Os.InterruptPending = true;
      else
        Os.TakeInterrupt();
    }
    return {};
  }

  TFsStatus Release() override {
    if (auto It = Os.ReleaseFailures.find(Path); It != Os.ReleaseFailures.end()) return It->second;
    if (Held) --Os.HeldNow;
    Held = false;
    return {};
  }

  TFsStatus Close() override {
    TFsStatus Status;
    if (Parent && !Parent->Held) Status = Parent->TakeHandleBack();
    if (Held) --Os.HeldNow;
    Held = false;
    return Status;
  }

private:
  TFsStatus TakeHandleBack() {
    if (auto It = Os.ReacquireFailures.find(Path); It != Os.ReacquireFailures.end()) return It->second;
    Os.HeldMost = std::max(Os.HeldMost, ++Os.HeldNow);
    Held = true;
    return {};
  }

  TFakePlatform::TNode* Find(const char* Name) const {
    for (auto& [ChildName, Child] : Node.Children)
      if (SameName(ChildName, Name) && !Child->Gone) return Child.get();
    return nullptr;
  }

  // Only a listing that holds its handle can act on its children.
  void Check() const {
    if (!Held) throw std::logic_error("directory used without its handle: " + Path);
  }

  TFakePlatform& Os;
  TFakePlatform::TNode& Node;
  std::string Path;  // ends in a separator unless empty
  TFakeListing* Parent;
  std::size_t Index = 0;
  bool Held = true;
};

TFakePlatform::TFakePlatform() : Root(std::make_unique<TNode>()) { Root->IsDirectory = true; }

TFakePlatform::TNode* TFakePlatform::Find(const std::string& Path) const {
  TNode* Node = Root.get();
  for (const std::string& Name : Components(Path)) {
    auto It = std::find_if(Node->Children.begin(), Node->Children.end(),
                           [&](const auto& Child) { return SameName(Child.first, Name) && !Child.second->Gone; });
    if (It == Node->Children.end()) return nullptr;
    Node = It->second.get();
  }
  return Node;
}

TFakePlatform::TNode& TFakePlatform::Make(const std::string& Path, bool IsDirectory) {
  TNode* Node = Root.get();
  for (const std::string& Name : Components(Path)) {
    auto It = std::find_if(Node->Children.begin(), Node->Children.end(),
                           [&](const auto& Child) { return Child.first == Name; });
    if (It == Node->Children.end()) {
      Node->Children.emplace_back(Name, std::make_unique<TNode>());
      It = std::prev(Node->Children.end());
      It->second->IsDirectory = true;
    }
    Node = It->second.get();
  }
  Node->IsDirectory = IsDirectory;
  return *Node;
}

TFakePlatform::TNode& TFakePlatform::AddFile(const std::string& Path, std::uint64_t Size) {
  TNode& Node = Make(Path, false);
  Node.Size = Size;
  return Node;
}

TFakePlatform::TNode& TFakePlatform::AddDir(const std::string& Path) { return Make(Path, true); }

bool TFakePlatform::Exists(const std::string& Path) const { return Find(Path) != nullptr; }

std::unique_ptr<TDirListing> TFakePlatform::OpenDir(const std::string& Path, TFsStatus& Status) {
  if (auto It = OpenFailures.find(Path); It != OpenFailures.end()) {
    Status = It->second;
    return nullptr;
  }
  // The empty path is the current directory, and its entries bare names.
  TNode* Node = Find(Path.empty() ? Cwd : Path);
  if (!Node || !Node->IsDirectory) {
    Status = {TFsError::NotFound, 2};
    return nullptr;
  }
  std::string Prefix = Path;
  if (!Prefix.empty() && Prefix.back() != '/' && Prefix.back() != '\\') Prefix += NativeRules().Separator;
  return std::make_unique<TFakeListing>(*this, *Node, Prefix);
}

namespace {

// Hands its text out a few bytes at a time, so that words cross reads.
class TFakeInput final : public TInputFile {
public:
  explicit TFakeInput(const TFakePlatform::TInput& Input) : Input(Input) {}
  long Read(char* Buffer, std::size_t Size, TFsStatus& Status) override {
    const std::size_t Count = std::min({Size, std::size_t{3}, Input.Text.size() - Pos});
    if (Count == 0 && Input.Broken) {
      Status = {TFsError::Other, 5};
      return -1;
    }
    Input.Text.copy(Buffer, Count, Pos);
    Pos += Count;
    return static_cast<long>(Count);
  }

private:
  const TFakePlatform::TInput& Input;
  std::size_t Pos = 0;
};

}  // namespace

std::unique_ptr<TInputFile> TFakePlatform::OpenInput(const std::string& Name, TFsStatus& Status) {
  const auto It = Inputs.find(Name);
  if (It == Inputs.end()) {
    Status = {TFsError::NotFound, 2};
    return nullptr;
  }
  return std::make_unique<TFakeInput>(It->second);
}

bool TFakePlatform::WriteOut(std::string_view Text) {
  if (OutFailure.Failed()) return false;
  if (WriteFailAt >= 0 && Writes++ >= WriteFailAt) {
    OutFailure = WriteFailure;
    Lost = Text;
    return false;
  }
  Out += Text;
  return true;
}

TFsStatus TFakePlatform::ReserveOut(std::size_t Length) {
  if (OutFailure.Failed()) return OutFailure;
  ReservedMost = std::max(ReservedMost, Length);
  if (ReserveFailAt >= 0 && Reservations >= ReserveFailAt) return ReserveFailure;
  ++Reservations;
  return {};
}

void TFakePlatform::ReleaseInterrupts() {
  if (--HoldDepth == 0 && InterruptPending) {
    InterruptPending = false;
    TakeInterrupt();
  }
}

void TFakePlatform::TakeInterrupt() {
  if (Interrupted) return;  // the first one ended the process
  Interrupted = true;
  OutAtInterrupt = Out;
  RemovedAtInterrupt = Removed;
}

}  // namespace kerv
