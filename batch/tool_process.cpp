#include "batch/tool_process.h"

#include <windows.h>


#include "batch/batch_io.h"
#include "batch/control_files.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

constexpr DWORD kEndWaitMs = 10000;

ScopedKernelHandle KillOnCloseJob() {
  ScopedKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.reset();
  return job;
}

}  // namespace

unsigned long ToolProcess::Start(const std::wstring& parameters, bool show) {
  End();
  const std::wstring folder = AnsiToWide(ExeDir());
  const std::wstring program = folder + AnsiToWide(kEventsToolName);
  std::wstring commandLine = L"\"" + program + L"\" " + parameters;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show ? SW_SHOWNORMAL : SW_HIDE);
  PROCESS_INFORMATION info{};
  // Suspended until it is in the job, so that not even its first instruction runs outside.
  const DWORD flags = CREATE_SUSPENDED | (show ? 0 : CREATE_NO_WINDOW);
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        folder.c_str(), &startup, &info))
    return ::GetLastError();
  process_.reset(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  job_ = KillOnCloseJob();
  // Without a job (a system that refuses it) the window still ends the tool when it closes.
  if (job_ && !::AssignProcessToJobObject(job_.get(), info.hProcess)) job_.reset();
  ::ResumeThread(thread.get());
  return 0;
}

bool ToolProcess::Ended(uint32_t& exitStatus) const {
  if (!process_ || ::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  exitStatus = code;
  return true;
}

void ToolProcess::End() {
  if (process_) {
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
      ::TerminateProcess(process_.get(), ERROR_PROCESS_ABORTED);
      ::WaitForSingleObject(process_.get(), kEndWaitMs);
    }
    process_.reset();
  }
  job_.reset();
}

bool FolderBatchLock::TryTake() {
  if (file_) return true;
  const std::string path = ExeDir() + kBatchLockFileName;
  file_.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (file_) return true;
  // Only another window's lock (open, or being deleted) makes this one wait; a folder where no
  // lock can be made (read only) fails at the control files anyway, with its own message.
  const DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return false;
  return !(error == ERROR_ACCESS_DENIED && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
}

uint64_t SteadyMilliseconds() { return ::GetTickCount64(); }

}  // namespace pelloran
