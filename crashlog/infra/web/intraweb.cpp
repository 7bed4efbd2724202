#include "crashlog/infra/web/intraweb.h"

#include "base/exceptions.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/web/web_page.h"

#include <atomic>

namespace pelloran::crashlog {

namespace {

std::atomic<bool> intraWebHooked{false};
std::atomic<TIWShowMessageProc> showMessageProc{nullptr};

}  // namespace

void SetIntraWebHooked(bool hooked, void* showMessage) {
  showMessageProc.store(hooked ? reinterpret_cast<TIWShowMessageProc>(showMessage) : nullptr);
  intraWebHooked.store(hooked);
}

bool IsIntraWeb() {
  TraceEnter("IsIntraWeb");
  const bool result = intraWebHooked.load();
  TraceLeave("IsIntraWeb", {result});
  return result;
}

TIntraWebRecords& IntraWebRecords() {
  // Never destroyed: a request may still be served while the program finalises.
  static TIntraWebRecords* const records = new TIntraWebRecords;
  return *records;
}

bool ShowIntraWebError(std::string_view message, std::string_view title) {
  TraceEnter("ShowIntraWebError");
  bool result = false;
  const TIntraWebObjects objects = IntraWebRecords().Find(std::this_thread::get_id()).value_or(TIntraWebObjects{});
  if (objects.Application == nullptr || objects.ServerController == nullptr) {
    ReportWarning(eeShowError, "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
  } else {
    try {
      const std::string html = IntraWebMessageHtml(message);
      if (TIWStrings* headers = objects.ServerController->PublishedStrings(kIWHTMLHeaders)) {
        headers->SetText(WithCrashLogBlock(headers->GetText(), title));
      } else {
        ReportWarning(eeShowError, "IntraWeb: HTMLHeaders = nil.");
      }
      const TIWShowMessageProc show = showMessageProc.load();
      if (show == nullptr) throw Exception("No procedure " + std::string(kIWShowMessageName) + ".");
      show(objects.Application, html, kIWShowMessageSameWindow);
      result = true;
    } catch (...) {
      ReportSectionError(eeShowError, "IntraWeb");
    }
  }
  TraceLeave("ShowIntraWebError", {result});
  return result;
}

}  // namespace pelloran::crashlog
