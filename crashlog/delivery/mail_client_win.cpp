#include "crashlog/delivery/mail_client.h"

#include "base/ansi_path.h"
#include "crashlog/delivery/delivery_win.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "runtime/scoped_handle.h"

#include <windows.h>
#include <mapi.h>

#include <cstring>

namespace pelloran::crashlog {

namespace {

constexpr std::size_t kMapiTextLimit = 256;

std::string ExpandEnvironment(const std::string& text) {
  char buffer[2048] = {};
  const DWORD length = ::ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof buffer);
  return length == 0 || length > sizeof buffer ? text : std::string(buffer);
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return length == 0 || length >= sizeof buffer ? path : std::string(buffer, length);
}

// The functions of a Simple MAPI library.
struct TMapiLibrary {
  ScopedModule Library;
  LPMAPILOGON Logon = nullptr;
  LPMAPILOGOFF Logoff = nullptr;
  LPMAPISENDMAIL SendMail = nullptr;
  LPMAPIRESOLVENAME ResolveName = nullptr;
  LPMAPIFREEBUFFER FreeBuffer = nullptr;

  template <typename T>
  void Find(T& function, const char* name) {
    function = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(Library.get(), name)));
  }
};

// The default mail client's library, else the system's "mapi32.dll".
ScopedModule LoadMapiLibrary() {
  const std::string client = ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Clients\\Mail", "");
  const std::string dllPath =
      ExpandEnvironment(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Clients\\Mail\\" + client, "DLLPath"));
  ScopedModule library;
  if (!client.empty() && !dllPath.empty()) library.reset(::LoadLibraryA(dllPath.c_str()));
  if (!library) library.reset(::LoadLibraryA("mapi32.dll"));
  return library;
}

// A recipient as the message keeps it: its own copies, since the resolved record is released.
struct TRecipientCopy {
  std::string Name;
  std::string Address;
  std::vector<std::uint8_t> EntryId;
};

std::string Limited(const char* text) { return text ? std::string(text, strnlen(text, kMapiTextLimit)) : std::string(); }

}  // namespace

bool SendByMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                const std::vector<std::string>& attachments) {
  TraceEnter("SendByMapi", {recipients, subject});
  const auto finish = [](bool result) {
    TraceLeave("SendByMapi", {result});
    return result;
  };
  const std::vector<std::string> addresses = SplitAddressList(recipients);

  TMapiLibrary mapi;
  mapi.Library = LoadMapiLibrary();
  if (!mapi.Library) {
    ReportWarning(eeEmailMAPIError, "Cannot open the MAPI dll.");
    return finish(false);
  }
  mapi.Find(mapi.Logon, "MAPILogon");
  mapi.Find(mapi.Logoff, "MAPILogoff");
  mapi.Find(mapi.SendMail, "MAPISendMail");
  mapi.Find(mapi.ResolveName, "MAPIResolveName");
  mapi.Find(mapi.FreeBuffer, "MAPIFreeBuffer");
  if (!mapi.Logon || !mapi.Logoff || !mapi.SendMail || !mapi.ResolveName || !mapi.FreeBuffer) {
    ReportWarning(eeEmailMAPIError, "Cannot found the MAPI functions.");
    return finish(false);
  }

  LHANDLE session = 0;
  if (mapi.Logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &session) != SUCCESS_SUCCESS) {
    ReportWarning(eeEmailMAPIError, "Cannot LogOn into the MAPI service.");
    return finish(false);
  }
  struct TLogoff {
    TMapiLibrary& Mapi;
    LHANDLE Session;
    ~TLogoff() { Mapi.Logoff(Session, 0, 0, 0); }
  } logoff{mapi, session};

  std::vector<std::string> paths, names;
  for (const std::string& path : attachments) {
    if (paths.size() == kMaxMapiAttachments) break;
    if (path.empty() || !FileExists(path)) continue;
    paths.push_back(FullPath(ExpandEnvironment(path)));
    names.emplace_back(AnsiFileNamePart(path));
  }
  std::vector<MapiFileDesc> files(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    files[i].ulReserved = 0;
    files[i].flFlags = 0;
    files[i].nPosition = 0xFFFFFFFF;
    files[i].lpszPathName = paths[i].data();
    files[i].lpszFileName = names[i].data();
    files[i].lpFileType = nullptr;
  }

  std::vector<TRecipientCopy> copies;
  copies.reserve(addresses.size());
  for (const std::string& address : addresses) {
    lpMapiRecipDesc resolved = nullptr;
    std::string name = address;
    if (mapi.ResolveName(session, 0, name.data(), 0, 0, &resolved) != SUCCESS_SUCCESS || !resolved)
      return finish(false);  // an unknown recipient: nothing is sent, and no warning
    TRecipientCopy copy;
    copy.Name = Limited(resolved->lpszName);
    copy.Address = resolved->lpszAddress && *resolved->lpszAddress ? Limited(resolved->lpszAddress) : copy.Name;
    if (resolved->lpEntryID && resolved->ulEIDSize != 0) {
      const auto* id = static_cast<const std::uint8_t*>(resolved->lpEntryID);
      copy.EntryId.assign(id, id + resolved->ulEIDSize);
    }
    mapi.FreeBuffer(resolved);
    copies.push_back(std::move(copy));
  }
  std::vector<MapiRecipDesc> recipientsDesc(copies.size());
  for (std::size_t i = 0; i < copies.size(); ++i) {
    recipientsDesc[i] = MapiRecipDesc{};
    recipientsDesc[i].ulRecipClass = MAPI_TO;
    recipientsDesc[i].lpszName = copies[i].Name.data();
    recipientsDesc[i].lpszAddress = copies[i].Address.data();
    recipientsDesc[i].ulEIDSize = static_cast<ULONG>(copies[i].EntryId.size());
    recipientsDesc[i].lpEntryID = copies[i].EntryId.empty() ? nullptr : copies[i].EntryId.data();
  }

  std::string subjectCopy = subject, bodyCopy = body;
  MapiMessage message{};
  message.lpszSubject = subjectCopy.data();
  message.lpszNoteText = bodyCopy.data();
  message.nRecipCount = static_cast<ULONG>(recipientsDesc.size());
  message.lpRecips = recipientsDesc.empty() ? nullptr : recipientsDesc.data();
  message.nFileCount = static_cast<ULONG>(files.size());
  message.lpFiles = files.empty() ? nullptr : files.data();
  // No session of ours: the client logs on by itself for the mail it shows.
  if (mapi.SendMail(0, 0, &message, MAPI_LOGON_UI, 0) != SUCCESS_SUCCESS) {
    ReportWarning(eeEmailMAPIError, "Cannot send the MAPI message.");
    return finish(false);
  }
  return finish(true);
}

bool SendByMailto(const TMailtoMail& mail) {
  TraceEnter("SendByMailto", {mail.Recipients, mail.Subject});
  const std::string command = ExpandEnvironment(ReadRegistryString(HKEY_CLASSES_ROOT, "\\mailto\\shell\\open\\command", ""));
  std::string commandLine = MailtoCommandLine(command, mail);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
    ReportWarning(eeEmailShellError, SystemErrorText(::GetLastError()));
    TraceLeave("SendByMailto", {false});
    return false;
  }
  ScopedKernelHandle process(started.hProcess), thread(started.hThread);
  // Give the client time to open its compose window, then bring that to the top.
  ::WaitForInputIdle(process.get(), 10000);
  ::Sleep(2000);
  if (HWND window = FindMainWindow(started.dwProcessId)) {
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::ShowWindow(window, SW_SHOWMAXIMIZED);
  }
  TraceLeave("SendByMailto", {true});
  return true;
}

bool SendBugMail(const std::string& recipient, const std::string& subject, const std::string& body,
                 const std::string& attachment) {
  return SendByMapi(recipient, subject, body, {attachment});
}

}  // namespace pelloran::crashlog
