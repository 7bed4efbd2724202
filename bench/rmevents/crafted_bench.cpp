// The events tool's cleaner on a file crafted against it, timed (processor time) inside one
// process against a plain read-and-write copy of the same bytes (flushed, as the tool flushes
// its output):
// 8 logical headers naming 65,535 DATA chunk offsets each, all pointing at the last of 65,000
// empty DATA chunks. Every scan must stay linear (or n log n) in such structure.
//
//   bench/rmevents/run_crafted.sh [runs]
//   rmevents_crafted_bench [runs] [dir] [keep]   (keep: leave the crafted file and its cleaning
//                                                 in dir, to compare two builds' output)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/rmevents/tool.h"
#include "tests/batch/rmevents/native/posix_environment.h"

namespace {

using namespace pelloran::rmevents;

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
void Id(std::vector<uint8_t>& b, const char* id) { b.insert(b.end(), id, id + 4); }

std::vector<uint8_t> MediaHeader(uint16_t number, const std::string& mime,
                                 const std::vector<uint8_t>& typeSpecific) {
  std::vector<uint8_t> b;
  Id(b, "MDPR");
  Put32(b, 0);
  Put16(b, 0);
  Put16(b, number);
  for (int i = 0; i < 7; ++i) Put32(b, 0);
  b.push_back(0);  // no name
  b.push_back(uint8_t(mime.size()));
  b.insert(b.end(), mime.begin(), mime.end());
  Put32(b, uint32_t(typeSpecific.size()));
  b.insert(b.end(), typeSpecific.begin(), typeSpecific.end());
  Set32(b, 4, uint32_t(b.size()));
  return b;
}

std::vector<uint8_t> CraftedFile(int logicalHeaders, uint32_t offsets, uint32_t dataChunks) {
  constexpr uint32_t kDataHeader = 18;
  std::vector<uint8_t> head;
  Id(head, ".RMF");
  Put32(head, 18);
  Put16(head, 0);
  Put32(head, 0);
  Put32(head, uint32_t(3 + logicalHeaders + dataChunks));
  const size_t prop = head.size();
  Id(head, "PROP");
  Put32(head, 50);
  Put16(head, 0);
  for (int i = 0; i < 9; ++i) Put32(head, 0);  // rates, sizes, packets, duration, preroll, index, data
  Put16(head, uint16_t(1 + logicalHeaders));
  Put16(head, 0);
  std::vector<uint8_t> physical = MediaHeader(0, "audio/x-pn-realaudio", {});
  head.insert(head.end(), physical.begin(), physical.end());
  const size_t logicalSize = 10 + 2 + 28 + 1 + 1 + 38 + 4 + (4 + 2 + 2 + 6 * offsets + 2 + 2);
  const uint32_t firstData = uint32_t(head.size() + logicalHeaders * logicalSize);
  const uint32_t lastData = firstData + (dataChunks - 1) * kDataHeader;
  for (int k = 0; k < logicalHeaders; ++k) {
    std::vector<uint8_t> ts;
    Put32(ts, uint32_t(4 + 2 + 2 + 6 * offsets + 2 + 2));
    Put16(ts, 0);
    Put16(ts, offsets);
    for (uint32_t i = 0; i < offsets; ++i) Put16(ts, 0);
    for (uint32_t i = 0; i < offsets; ++i) Put32(ts, lastData);
    Put16(ts, 0);  // no rules
    Put16(ts, 0);  // no properties
    std::vector<uint8_t> m = MediaHeader(uint16_t(100 + k), "logical-audio/x-pn-multirate-realaudio", ts);
    if (m.size() != logicalSize) std::abort();
    head.insert(head.end(), m.begin(), m.end());
  }
  Set32(head, prop + 10 + 4 * 8, firstData);
  for (uint32_t i = 0; i < dataChunks; ++i) {
    Id(head, "DATA");
    Put32(head, kDataHeader);
    Put16(head, 0);
    Put32(head, 0);
    Put32(head, i + 1 < dataChunks ? firstData + (i + 1) * kDataHeader : 0);
  }
  return head;
}

// Wall time (the flush included) and processor time (on a shared machine, waiting for other
// processes' turns is no cost of the cleaner's).
// Page faults too: they are most of the kernel's share of the processor time.
struct Cost {
  double wall = 0, cpu = 0, faults = 0;
};
Cost Now() {
  timespec w{}, c{};
  ::clock_gettime(CLOCK_MONOTONIC, &w);
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c);
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return {double(w.tv_sec) + double(w.tv_nsec) / 1e9, double(c.tv_sec) + double(c.tv_nsec) / 1e9,
          double(u.ru_minflt + u.ru_majflt)};
}
Cost Since(const Cost& start) {
  const Cost now = Now();
  return {now.wall - start.wall, now.cpu - start.cpu, now.faults - start.faults};
}

// Read and write in 1 MiB pieces, then flush, as the tool ends.
Cost Copy(const std::string& from, const std::string& to) {
  const Cost start = Now();
  int in = ::open(from.c_str(), O_RDONLY);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> buffer(1 << 20);
  for (ssize_t got; (got = ::read(in, buffer.data(), buffer.size())) > 0;)
    if (::write(out, buffer.data(), size_t(got)) != got) std::abort();
  ::fsync(out);
  ::close(out);
  ::close(in);
  return Since(start);
}

class NoLog : public RunLog {
 public:
  void Line(const std::string& text) override { last = text; }
  std::string last;
};

Cost Clean(const std::string& from, const std::string& to) {
  ::unlink(to.c_str());
  const Cost start = Now();
  PosixEnvironment env;
  NoLog log;
  RunOutcome outcome = RunTool(
      ParseCommandLine({L"-i", WidenBytes(from), L"-o", WidenBytes(to)}), env, log);
  const Cost took = Since(start);
  if (!outcome.succeeded) {
    std::fprintf(stderr, "the crafted file was not cleaned\n");
    std::exit(1);
  }
  return took;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string path = dir + "/crafted.rm", copy = dir + "/crafted.copy",
                    clean = dir + "/crafted.clean";
  const std::vector<uint8_t> bytes = CraftedFile(8, 65535, 65000);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  Copy(path, copy);  // warm-up
  Clean(path, clean);
  std::vector<double> wallRatios, cpuRatios, cleanWall, cleanCpu, cleanFaults, copyFaults;
  for (int i = 0; i < runs; ++i) {
    const Cost c = Copy(path, copy), t = Clean(path, clean);
    wallRatios.push_back(t.wall / c.wall);
    cpuRatios.push_back(t.cpu / std::max(c.cpu, 1e-6));
    cleanWall.push_back(t.wall);
    cleanCpu.push_back(t.cpu);
    cleanFaults.push_back(t.faults);
    copyFaults.push_back(c.faults);
  }
  std::printf("crafted file: %.1f MB, 8 logical headers x 65535 offsets, 65000 empty DATA chunks\n",
              bytes.size() / 1e6);
  std::printf("%d paired runs, medians: cleaning %.4f s wall, %.4f s processor\n", runs,
              Median(cleanWall), Median(cleanCpu));
  std::printf("page faults, medians: cleaning %.0f, copy %.0f\n", Median(cleanFaults),
              Median(copyFaults));
  std::printf("ratio clean/copy, wall time: %.2f (%.2f-%.2f)\n", Median(wallRatios),
              *std::min_element(wallRatios.begin(), wallRatios.end()),
              *std::max_element(wallRatios.begin(), wallRatios.end()));
  std::printf("ratio clean/copy, processor time: %.2f (%.2f-%.2f)\n", Median(cpuRatios),
              *std::min_element(cpuRatios.begin(), cpuRatios.end()),
              *std::max_element(cpuRatios.begin(), cpuRatios.end()));
  // "keep" as a third argument leaves the crafted file and its cleaned copy, to compare builds.
  const bool keep = argc > 3 && std::string(argv[3]) == "keep";
  for (const std::string& p : {path, copy, clean})
    if (!keep || p == copy) ::unlink(p.c_str());
  return 0;
}
