#include "batch/job_messages.h"

#include <vector>

#include "batch/batch_io.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

std::wstring FillIn(const char* gbkTemplate, std::initializer_list<std::wstring> arguments) {
  const std::vector<std::wstring> values(arguments);
  const std::wstring text = AnsiToWide(gbkTemplate);
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] >= L'1' && text[i + 1] <= L'9') {
      const size_t index = static_cast<size_t>(text[i + 1] - L'1');
      if (index < values.size()) out += values[index];
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::wstring LogLine(const char* gbkTemplate, std::initializer_list<std::wstring> arguments) {
  return FillIn(gbkTemplate, arguments) + L"\r\n";
}

std::wstring SystemErrorReason(unsigned long code) {
  std::wstring wording = SystemErrorTextW(code);
  std::wstring reason = FillIn(kMsgSystemError, {std::to_wstring(code), wording});
  if (wording.empty()) reason.resize(reason.size() - 1);  // no "：" without a wording
  return reason;
}

}  // namespace pelloran
