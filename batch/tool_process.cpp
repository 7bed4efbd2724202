#include "batch/tool_process.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

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
  if (held_) return true;
  if (!mutex_) {
    // Named after the folder (case ignored) by a hash: a name holds no "\" and has a length limit.
    uint32_t hash = 2166136261u;
    for (wchar_t c : AnsiToWide(ExeDir())) {
      hash ^= static_cast<uint32_t>(std::towupper(c));
      hash *= 16777619u;
    }
    wchar_t name[64];
    swprintf(name, 64, L"Local\\Pelloran-batch-%08x", hash);
    mutex_.reset(::CreateMutexW(nullptr, FALSE, name));
    if (!mutex_) return held_ = true;  // no lock to be had: run as before rather than never
  }
  const DWORD got = ::WaitForSingleObject(mutex_.get(), 0);
  // Abandoned: the other window died with it; its batch is over.
  held_ = got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
  return held_;
}

void FolderBatchLock::Release() {
  if (held_ && mutex_) ::ReleaseMutex(mutex_.get());
  held_ = false;
}

uint64_t SteadyMilliseconds() { return ::GetTickCount64(); }

}  // namespace pelloran
