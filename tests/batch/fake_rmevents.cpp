// A stand-in for the RealMedia events tool, for the batch tests only; never installed with the
// program, and its log says so on its first line. It takes the tool's command line (-i in -o out
// -e events -m imagemap -l log), reads the input and the two control files, writes the output
// under its partial name ("~" + name + ".part" beside it) over a few hundred milliseconds so
// that its size grows, moves it into place and writes its log ending in "***".
//
// What it does is set by the first line of the input, for example
//   #fake shrink=100          output = input minus 100 bytes (the default)
//   #fake grow=2048           output = input plus 2048 bytes
//   #fake fail                no output; the log has an "Error:" line, "***", exit status 1
//   #fake late=900            the output appears only after 900 ms
//   #fake sparse              the output is made at its full size at once (for huge inputs)
//   #fake crlog               the log uses CR LF line ends (LF otherwise)
//   #fake nolog               exits at once with status 1, no log, no output
//   #fake badexit             writes the partial output and a log with "***", then exits with
//                             status 3 leaving the partial file
//   #fake die                 ends itself half way through the output, as a kill would
//   #fake hang                writes half the output, then waits for ever
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  long long shrink = 100;
  long long grow = 0;
  bool fail = false;
  unsigned late = 0;
  bool sparse = false;
  bool crlog = false;
  bool nolog = false;
  bool badexit = false;
  bool die = false;
  bool hang = false;
};

std::string ReadPrefix(const std::string& path, size_t limit) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  data.resize(limit);
  data.resize(std::fread(data.data(), 1, limit, f));
  std::fclose(f);
  return data;
}

Options ParseDirective(const std::string& head) {
  Options o;
  if (head.rfind("#fake", 0) != 0) return o;
  std::string line = head.substr(0, head.find('\n')) + " ";
  auto value = [&](const char* key) -> const char* {
    size_t at = line.find(key);
    return at == std::string::npos ? nullptr : line.c_str() + at + std::strlen(key);
  };
  auto word = [&](const char* w) { return line.find(std::string(" ") + w + " ") != std::string::npos; };
  if (const char* v = value("shrink=")) o.shrink = std::atoll(v);
  if (const char* v = value("grow=")) { o.grow = std::atoll(v); o.shrink = 0; }
  if (const char* v = value("late=")) o.late = static_cast<unsigned>(std::atoi(v));
  o.fail = word("fail");
  o.sparse = word("sparse");
  o.crlog = word("crlog");
  o.nolog = word("nolog");
  o.badexit = word("badexit");
  o.die = word("die");
  o.hang = word("hang");
  return o;
}

long long SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return -1;
  return (static_cast<long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::string PartialOf(const std::string& out) {
  size_t slash = out.find_last_of("\\/:");
  size_t at = slash == std::string::npos ? 0 : slash + 1;
  return out.substr(0, at) + "~" + out.substr(at) + ".part";
}

}  // namespace

int main(int argc, char** argv) {
  std::string in, out, events, imagemap, logName = "result.txt";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "-i") in = argv[i + 1];
    else if (flag == "-o") out = argv[i + 1];
    else if (flag == "-e") events = argv[i + 1];
    else if (flag == "-m") imagemap = argv[i + 1];
    else if (flag == "-l") logName = argv[i + 1];
  }
  Options o = ParseDirective(ReadPrefix(in, 256));
  if (o.nolog) return 1;
  std::vector<std::string> log;
  log.push_back("fake events tool");
  log.push_back("input: " + in);
  log.push_back("output: " + out);
  log.push_back("events file: " + std::to_string(ReadPrefix(events, 1 << 16).size()) + " bytes");
  log.push_back("image map file: " + std::to_string(ReadPrefix(imagemap, 1 << 16).size()) + " bytes");

  const std::string partial = PartialOf(out);
  long long inSize = SizeOf(in);
  bool ok = inSize >= 0 && !o.fail;
  if (o.late) Sleep(o.late);
  if (ok) {
    long long target = inSize - o.shrink + o.grow;
    if (target < 0) target = 0;
    HANDLE f = CreateFileA(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = f != INVALID_HANDLE_VALUE;
    if (ok && o.sparse) {
      LARGE_INTEGER at;
      at.QuadPart = target;
      ok = SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && SetEndOfFile(f);
    } else if (ok) {
      // Four pieces 150 ms apart, so that the monitor sees the size grow.
      std::vector<char> chunk(static_cast<size_t>(target / 4 + 1), 'x');
      long long written = 0;
      for (int piece = 0; piece < 4 && ok; ++piece) {
        long long n = piece == 3 ? target - written : target / 4;
        DWORD done = 0;
        ok = WriteFile(f, chunk.data(), static_cast<DWORD>(n), &done, nullptr) && done == n;
        written += n;
        FlushFileBuffers(f);
        if (piece == 1 && o.die) TerminateProcess(GetCurrentProcess(), 9);
        if (piece == 1 && o.hang) Sleep(INFINITE);
        Sleep(150);
      }
    }
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    if (ok && !o.badexit) ok = MoveFileExA(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(partial.c_str());
  }
  log.push_back(ok ? "done" : "Error: no output written");
  const char* eol = o.crlog ? "\r\n" : "\n";
  std::string text;
  for (const std::string& line : log) text += line + eol;
  text += "***";  // no line end after the marker, as some tools leave it
  FILE* lf = std::fopen(logName.c_str(), "wb");
  if (lf) {
    std::fwrite(text.data(), 1, text.size(), lf);
    std::fclose(lf);
  }
  if (o.badexit) return 3;
  return ok ? 0 : 1;
}
