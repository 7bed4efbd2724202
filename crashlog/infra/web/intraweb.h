#pragma once
// The error page of an IntraWeb application: the framework shows pages itself, so the reporter
// asks the application object to show the report as a message, after putting a style for that
// message and the page title into the server controller's HTML headers.
//
// The framework's objects reach the reporter as the arguments of its exception handler, which the
// reporter hooks; the hook records them for its thread while the handler runs. Free of the
// platform: the framework is reached only through the classes and the procedure below.

#include "crashlog/infra/web/thread_records.h"

#include <string>
#include <string_view>
#include <thread>

namespace pelloran::crashlog {

// The framework's string list, read and written as one text, each line followed by CR LF.
class TIWStrings {
 public:
  virtual std::string GetText() const = 0;
  virtual void SetText(std::string_view text) = 0;

 protected:
  virtual ~TIWStrings() = default;
};

// A framework object whose published properties are found by name at run time, as its class
// library's type information offers them.
class TIWPublishedObject {
 public:
  // The published string-list property `name`; nullptr when there is none or it holds none.
  virtual TIWStrings* PublishedStrings(std::string_view name) = 0;

 protected:
  virtual ~TIWPublishedObject() = default;
};

// The application's show-message procedure, found by name in the debug information or by its
// export in the framework's package: a method, so the application object travels in ECX.
#if defined(__i386__)
#define PELLORAN_IW_METHOD __attribute__((thiscall))
#else
#define PELLORAN_IW_METHOD
#endif
using TIWShowMessageProc = void(PELLORAN_IW_METHOD*)(void* application, const std::string& message, int messageType);
inline constexpr std::string_view kIWShowMessageName = "IWApplication.TIWApplication.ShowMessage";
inline constexpr std::string_view kIWShowMessageExport =
    "@Iwapplication@TIWApplication@ShowMessage$qqr17System@AnsiStringx26Iwtypes@TIWShowMessageTypet1";
// The message type that shows the message in the page itself, in place of the form.
inline constexpr int kIWShowMessageSameWindow = 2;
inline constexpr std::string_view kIWHTMLHeaders = "HTMLHeaders";

// Set when the framework's exception handler has been hooked, with the show-message procedure
// found then (nullptr when none was found); cleared when the hook is removed.
void SetIntraWebHooked(bool hooked, void* showMessageProc);
bool IsIntraWeb();

// What the hooked exception handler received.
struct TIntraWebObjects {
  TIWPublishedObject* ServerController = nullptr;
  void* Application = nullptr;
};
using TIntraWebRecords = TThreadRecords<std::thread::id, TIntraWebObjects>;
TIntraWebRecords& IntraWebRecords();

// Records the handler's objects for the calling thread while the handler runs.
class TIntraWebObjectsScope : public TThreadRecordScope<std::thread::id, TIntraWebObjects> {
 public:
  explicit TIntraWebObjectsScope(TIntraWebObjects objects)
      : TThreadRecordScope(IntraWebRecords(), std::this_thread::get_id(), objects) {}
};

// Shows `message` (the report) in the page of the calling thread's application, with `title`
// (options text 2) as the page title. Runs on the thread of the exception, whose handler recorded
// the objects. False, with a warning, when that is not possible.
bool ShowIntraWebError(std::string_view message, std::string_view title);

}  // namespace pelloran::crashlog
