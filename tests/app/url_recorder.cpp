// Stands in for the web browser in the main window's tests: registered as the handler of the
// http scheme in the test's private Wine prefix, it appends each address it is given to
// "opened_urls.txt" beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string log = self;
  log = log.substr(0, log.find_last_of('\\') + 1) + "opened_urls.txt";
  FILE* f = std::fopen(log.c_str(), "ab");
  if (!f) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  std::fclose(f);
  return 0;
}
