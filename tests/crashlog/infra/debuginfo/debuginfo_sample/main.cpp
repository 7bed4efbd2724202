// A program whose own code addresses are looked up through its ELDATA resource, to be compared
// with what addr2line says for the same addresses in the unstripped build.
//
//   debuginfo_sample.exe locate FILE        one address (hex) per line in; per line out:
//                                           address, kind, unit, class, procedure, line (tabs)
//   debuginfo_sample.exe bench FILE ROUNDS  times GetLocation over the addresses of FILE
//   debuginfo_sample.exe stack              modules registered as at installation, then a 64-frame
//                                           call chain: stack scan twice, then locations
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/stack.h"
#include "tests/crashlog/infra/debuginfo/debuginfo_sample/shapes.h"

namespace {

using pelloran::crashlog::CreateCrashModules;
using pelloran::crashlog::TCrashDebugInfo;
using pelloran::crashlog::TCrashModulesList;

std::vector<std::uintptr_t> ReadAddresses(const char* file) {
  std::vector<std::uintptr_t> addresses;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) addresses.push_back(static_cast<std::uintptr_t>(std::stoul(line, nullptr, 16)));
  return addresses;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Locate(const char* file) {
  TCrashModulesList& modules = CreateCrashModules();
  for (std::uintptr_t address : ReadAddresses(file)) {
    const TCrashDebugInfo info = modules.GetLocation(address);
    std::printf("%08x\t%d\t%s\t%s\t%s\t%d\n", static_cast<unsigned>(address), info.LocationKind, info.UnitName.c_str(),
                info.ClassName.c_str(), info.ProcedureName.c_str(), static_cast<int>(info.Line));
  }
  return 0;
}

int Bench(const char* file, int rounds) {
  const auto addresses = ReadAddresses(file);
  auto start = std::chrono::steady_clock::now();
  TCrashModulesList& modules = CreateCrashModules();
  modules.FindModule(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
  const double registerSeconds = Seconds(start);
  start = std::chrono::steady_clock::now();
  std::size_t found = 0;
  for (int r = 0; r < rounds; ++r)
    for (std::uintptr_t address : addresses) found += modules.GetLocation(address).LocationKind == 4;
  const double seconds = Seconds(start);
  std::printf("register_ms %.3f\nlookups %zu\nfound %zu\ntotal_ms %.3f\nper_lookup_us %.3f\n", registerSeconds * 1e3,
              addresses.size() * rounds, found, seconds * 1e3, seconds * 1e6 / (addresses.size() * rounds));
  return 0;
}

// ---- a call chain of 64 frames --------------------------------------------------------------------

std::vector<std::uintptr_t> g_stackAddresses;
double g_scanSeconds = 0, g_rescanSeconds = 0, g_locateSeconds = 0;
std::uint32_t g_scanReads = 0, g_rescanReads = 0;
std::size_t g_entries = 0;

__attribute__((noinline, noipa)) int Deepest() {
  std::uintptr_t sp;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  std::uintptr_t stackBase;  // NT_TIB.StackBase of this thread
  asm volatile("movl %%fs:4, %0" : "=r"(stackBase));
  const std::uintptr_t top = stackBase - 4;
  TCrashModulesList& modules = *pelloran::crashlog::CrashModules();
  // The first scan of the run finds the modules registered at installation; the second is what
  // a second error in the same run costs.
  std::uint32_t reads = pelloran::crashlog::OwnMemoryReads();
  auto start = std::chrono::steady_clock::now();
  const auto list = pelloran::crashlog::StackScan(modules, 0, sp - 256, top);
  g_scanSeconds = Seconds(start);
  g_scanReads = pelloran::crashlog::OwnMemoryReads() - reads;
  reads = pelloran::crashlog::OwnMemoryReads();
  start = std::chrono::steady_clock::now();
  pelloran::crashlog::StackScan(modules, 0, sp - 256, top);
  g_rescanSeconds = Seconds(start);
  g_rescanReads = pelloran::crashlog::OwnMemoryReads() - reads;
  g_entries = list.size();
  for (const auto& entry : list) g_stackAddresses.push_back(entry.Address);
  return static_cast<int>(list.size());
}

__attribute__((noinline, noipa)) int Recurse(int depth) {
  if (depth == 0) return Deepest();
  // A local that outlives the call keeps one real frame per level (no recursion turned into a loop).
  volatile int level = depth;
  const int result = Recurse(depth - 1);
  return result + level;
}

int Stack() {
  // What the installation of the crash reporter does, before any error.
  auto start = std::chrono::steady_clock::now();
  TCrashModulesList& modules = CreateCrashModules();
  modules.RegisterModulesNow();
  const double registerSeconds = Seconds(start);
  Recurse(64);
  // The 64 innermost return addresses, as the report's call stack would resolve them.
  std::vector<std::uintptr_t> frames(g_stackAddresses.begin(),
                                     g_stackAddresses.begin() + std::min<std::size_t>(64, g_stackAddresses.size()));
  start = std::chrono::steady_clock::now();
  int known = 0;
  for (std::uintptr_t address : frames) known += modules.GetLocation(address).LocationKind == 4;
  g_locateSeconds = Seconds(start);
  std::printf("modules %d\nregister_ms %.3f\nscan_entries %zu\nscan_first_ms %.3f\nscan_again_ms %.3f\n"
              "scan_first_reads %u\nscan_again_reads %u\nframes %zu\nframes_known %d\nlocate_64_ms %.3f\n",
              modules.Count(), registerSeconds * 1e3, g_entries, g_scanSeconds * 1e3, g_rescanSeconds * 1e3,
              static_cast<unsigned>(g_scanReads), static_cast<unsigned>(g_rescanReads), frames.size(), known,
              g_locateSeconds * 1e3);
  for (std::uintptr_t address : frames) std::fprintf(stderr, "%08x\n", static_cast<unsigned>(address));
  return 0;
}

// ---- code shapes for the address sample ------------------------------------------------------------

struct TShape {
  virtual ~TShape() = default;
  virtual double Area() const = 0;
};

struct TRectangle : TShape {
  TRectangle(double w, double h) : w_(w), h_(h) {}
  double Area() const override { return w_ * h_; }
  double w_, h_;
};

struct TCircle : TShape {
  explicit TCircle(double r) : r_(r) {}
  double Area() const override { return 3.14159265 * r_ * r_; }
  double r_;
};

__attribute__((noinline)) std::uint32_t HashWords(const std::vector<std::string>& words) {
  std::uint32_t h = 2166136261u;
  for (const auto& word : words)
    for (char c : word) h = sample::Mix(h, static_cast<unsigned char>(c));
  return h;
}

__attribute__((noinline)) double Shapes(int count) {
  sample::TAccumulator<double> areas;
  for (int i = 0; i < count; ++i) {
    if (i % 2) {
      TRectangle r(i, i + 1);
      areas.Add(r.Area());
    } else {
      TCircle c(i);
      areas.Add(c.Area());
    }
  }
  return areas.Sum() + areas.Largest();
}

__attribute__((noinline)) int Dictionary(const std::vector<std::string>& words) {
  std::map<std::string, int> counts;
  for (const auto& w : words) ++counts[w];
  sample::TAccumulator<int> totals;
  for (const auto& [word, count] : counts) totals.Add(count * static_cast<int>(word.size()));
  return sample::LookupOr(counts, std::string("the"), -1) + totals.Sum();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "locate" && argc > 2) return Locate(argv[2]);
  if (mode == "bench" && argc > 3) return Bench(argv[2], std::atoi(argv[3]));
  if (mode == "stack") return Stack();
  // Without a mode: exercise the code shapes so none of them is dropped as unused.
  std::vector<std::string> words = {"the", "quick", "brown", "fox", "the"};
  std::printf("%u %.2f %d\n", HashWords(words), Shapes(argc + 9), Dictionary(words));
  return 0;
}
