// A small program that the options tests start to watch the MODULE channel at the end of a
// program's life. main publishes a payload; an object built before main, and so destroyed after
// every static that main's calls create, then prints what a reader sees during finalisation and
// whether a publication made that late still arrives:
//   "early=A1A2 late=B1" when the channel outlives the statics, "early=none ..." when it does not.

#include "crashlog/infra/options/options_channel.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace pelloran::crashlog;

namespace {

std::string Describe(const std::optional<std::vector<std::uint8_t>>& payload) {
  if (!payload) return "none";
  std::string text;
  for (const std::uint8_t byte : *payload) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    text += hex;
  }
  return text;
}

// Written straight to the handle: the C run-time's streams may already be closing.
void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

struct TFinalisationReader {
  ~TFinalisationReader() {
    std::string report = "early=" + Describe(ReadPublishedOptions(nullptr));
    const std::uint8_t late[] = {0xB1};
    PublishModuleOptions(late);
    report += " late=" + Describe(ReadPublishedOptions(nullptr));
    Print(report);
  }
};

TFinalisationReader finalisationReader;

}  // namespace

int main() {
  if (!OpenModuleChannel()) return 2;
  const std::uint8_t payload[] = {0xA1, 0xA2};
  return PublishModuleOptions(payload) ? 0 : 3;
}
