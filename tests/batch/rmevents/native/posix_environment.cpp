#include "tests/batch/rmevents/native/posix_environment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "base/exceptions.h"
#include "batch/rmevents/partial_output.h"

namespace pelloran::rmevents {
namespace {

[[noreturn]] void RaiseErrno(const std::string& what) {
  int code = errno;
  throw EInOutError(what + " (" + std::strerror(code) + ")", static_cast<unsigned long>(code));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

class PosixInput : public InputFile {
 public:
  PosixInput(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    ssize_t got = ::pread(fd_.get(), buffer, n, static_cast<off_t>(offset));
    if (got < 0) RaiseErrno("read failed");
    return static_cast<size_t>(got);
  }

 private:
  Fd fd_;
  uint64_t size_;
};

class PosixOutput : public WritableFile {
 public:
  PosixOutput(int fd, std::string partial, std::string final)
      : fd_(fd), partial_(std::move(partial)), final_(std::move(final)) {}
  ~PosixOutput() override { Discard(); }
  void Write(const void* data, size_t n) override {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      ssize_t put = ::write(fd_.get(), p, n);
      if (put <= 0) RaiseErrno("write failed");
      p += put;
      n -= static_cast<size_t>(put);
    }
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      ssize_t put = ::pwrite(fd_.get(), p, n, static_cast<off_t>(offset));
      if (put <= 0) RaiseErrno("write failed");
      p += put;
      offset += static_cast<uint64_t>(put);
      n -= static_cast<size_t>(put);
    }
  }
  void Commit() override {
    if (::fsync(fd_.get()) != 0) RaiseErrno("flush failed");
    if (::rename(partial_.c_str(), final_.c_str()) != 0) RaiseErrno("rename failed");
    committed_ = true;
    ::close(fd_.release());
  }
  // POSIX cannot remove through a descriptor; this build only serves tests and fuzzing.
  bool Discard() override {
    if (committed_) return true;
    committed_ = true;
    ::close(fd_.release());
    return ::unlink(partial_.c_str()) == 0 || errno == ENOENT;
  }

 private:
  Fd fd_;
  std::string partial_, final_;
  bool committed_ = false;
};

}  // namespace

std::wstring WidenBytes(const std::string& bytes) {
  std::wstring out;
  for (char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::string NarrowBytes(const std::wstring& wide) {
  std::string out;
  for (wchar_t c : wide) out += static_cast<char>(c);
  return out;
}

std::unique_ptr<InputFile> PosixEnvironment::OpenInput(const std::wstring& path) {
  int fd = ::open(NarrowBytes(path).c_str(), O_RDONLY);
  if (fd < 0) RaiseErrno("the input file \"" + NarrowBytes(path) + "\" cannot be opened");
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    RaiseErrno("the input file cannot be measured");
  }
  return std::make_unique<PosixInput>(fd, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<WritableFile> PosixEnvironment::CreateOutput(const std::wstring& path) {
  const std::string partial = NarrowBytes(PartialOutputPath(path));
  int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) RaiseErrno("the output file \"" + partial + "\" cannot be created");
  return std::make_unique<PosixOutput>(fd, partial, NarrowBytes(path));
}

std::optional<std::string> PosixEnvironment::ReadSmallFile(const std::wstring& path,
                                                           size_t maxBytes) {
  Fd fd(::open(NarrowBytes(path).c_str(), O_RDONLY));
  if (fd.get() < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > maxBytes) return std::nullopt;
  }
  return text;
}

bool PosixEnvironment::SameFile(const std::wstring& a, const std::wstring& b) {
  struct stat sa, sb;
  if (::stat(NarrowBytes(a).c_str(), &sa) != 0 || ::stat(NarrowBytes(b).c_str(), &sb) != 0)
    return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

uint64_t PosixEnvironment::Milliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace pelloran::rmevents
