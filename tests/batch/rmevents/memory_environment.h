#pragma once
// A ToolEnvironment over in-memory files, so a whole run of the tool can be checked without a
// disk: which files exist after it, and the order and size of its reads and writes.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "batch/rmevents/partial_output.h"
#include "batch/rmevents/tool.h"
#include "base/exceptions.h"

namespace rmtest {

using pelloran::rmevents::InputFile;
using pelloran::rmevents::WritableFile;

struct IoEvent {
  enum Kind { Read, Append, Patch } kind;
  uint64_t offset;  // input offset read, output offset patched, or output size after an append
  uint64_t size;    // bytes read or written
};

class MemoryEnvironment : public pelloran::rmevents::ToolEnvironment {
 public:
  std::map<std::wstring, std::vector<uint8_t>> files;
  std::vector<IoEvent> events;
  std::vector<std::wstring> removed;

  std::unique_ptr<InputFile> OpenInput(const std::wstring& path) override {
    auto it = files.find(path);
    if (it == files.end()) throw pelloran::EInOutError("the input file cannot be opened", 2);
    return std::make_unique<Input>(*this, it->second);
  }
  // The partial file is made anew, or the call fails as on a disk.
  std::unique_ptr<WritableFile> CreateOutput(const std::wstring& path) override {
    const std::wstring partial = pelloran::rmevents::PartialOutputPath(path);
    if (files.count(partial)) throw pelloran::EInOutError("the partial output file is in the way", 80);
    files[partial].clear();
    return std::make_unique<Output>(*this, partial, path);
  }
  std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t maxBytes) override {
    auto it = files.find(path);
    if (it == files.end() || it->second.size() > maxBytes) return std::nullopt;
    return std::string(it->second.begin(), it->second.end());
  }
  bool SameFile(const std::wstring& a, const std::wstring& b) override { return a == b; }
  // Each reading moves the clock on by clockStep.
  uint64_t Milliseconds() override { return clock += clockStep; }
  uint64_t clock = 0;
  uint64_t clockStep = 0;
  std::string DisplayPath(const std::wstring& path) override {
    return std::string(path.begin(), path.end());
  }

 private:
  class Input : public InputFile {
   public:
    Input(MemoryEnvironment& env, const std::vector<uint8_t>& bytes) : env_(env), bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
      if (offset >= bytes_.size()) return 0;
      size_t count = std::min<size_t>(n, static_cast<size_t>(bytes_.size() - offset));
      env_.events.push_back({IoEvent::Read, offset, count});
      std::memcpy(buffer, bytes_.data() + offset, count);
      return count;
    }

   private:
    MemoryEnvironment& env_;
    const std::vector<uint8_t>& bytes_;
  };
  class Output : public WritableFile {
   public:
    Output(MemoryEnvironment& env, std::wstring partial, std::wstring final)
        : env_(env), partial_(std::move(partial)), final_(std::move(final)),
          bytes_(env.files[partial_]) {}
    void Write(const void* data, size_t n) override {
      const uint8_t* p = static_cast<const uint8_t*>(data);
      bytes_.insert(bytes_.end(), p, p + n);
      env_.events.push_back({IoEvent::Append, bytes_.size(), n});
    }
    void WriteAt(uint64_t offset, const void* data, size_t n) override {
      if (offset > bytes_.size() || n > bytes_.size() - offset)
        throw pelloran::EInOutError("a patch past the end of the output", 0);
      std::memcpy(bytes_.data() + offset, data, n);
      env_.events.push_back({IoEvent::Patch, offset, n});
    }
    void Commit() override {
      env_.files[final_] = std::move(env_.files[partial_]);
      env_.files.erase(partial_);
      committed_ = true;
    }
    bool Discard() override {
      if (committed_) return true;
      env_.removed.push_back(partial_);
      env_.files.erase(partial_);
      committed_ = true;
      return true;
    }

   private:
    MemoryEnvironment& env_;
    std::wstring partial_, final_;
    std::vector<uint8_t>& bytes_;
    bool committed_ = false;
  };
};

class MemoryLog : public pelloran::rmevents::RunLog {
 public:
  std::vector<std::string> lines;
  void Line(const std::string& text) override { lines.push_back(text); }
  std::string Text() const {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
  }
};

}  // namespace rmtest
