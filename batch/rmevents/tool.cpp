#include "batch/rmevents/tool.h"

#include <new>

#include "batch/rmevents/clean_plan.h"
#include "batch/rmevents/control_texts.h"
#include "batch/rmevents/partial_output.h"
#include "batch/rmevents/rm_writer.h"

namespace pelloran::rmevents {
namespace {

constexpr size_t kMaxControlFileBytes = 1 << 20;
constexpr size_t kHeaderReadSize = 64 << 10;
// The runner gives up on a tool whose files stay unchanged for a minute: a line this often
// shows that a long file is still being written.
constexpr uint64_t kProgressLineEveryMs = 5000;

// Stream names and types come from the file: keep control characters out of the log.
std::string Printable(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string Quoted(const std::string& s) {
  std::string out(1, '"');
  out += Printable(s);
  out += '"';
  return out;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Passes the writes on and logs the bytes written so far, now and then.
class ProgressLines : public OutputFile {
 public:
  ProgressLines(OutputFile& file, ToolEnvironment& env, RunLog& log, uint64_t inputSize)
      : file_(file), env_(env), log_(log), inputSize_(inputSize), last_(env.Milliseconds()),
        start_(last_) {}

  void Write(const void* data, size_t n) override {
    file_.Write(data, n);
    written_ += n;
    const uint64_t now = env_.Milliseconds();
    if (now - last_ < kProgressLineEveryMs) return;
    last_ = now;
    log_.Line("Writing: " + std::to_string(written_) + " of about " + std::to_string(inputSize_) +
              " bytes");
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    file_.WriteAt(offset, data, n);
  }
  // Before the flush, which on a slow disk can take a while after a long write.
  void BeforeFlush() {
    if (env_.Milliseconds() - start_ >= kProgressLineEveryMs)
      log_.Line("Writing: " + std::to_string(written_) + " bytes written, flushing them to the disk");
  }

 private:
  OutputFile& file_;
  ToolEnvironment& env_;
  RunLog& log_;
  uint64_t inputSize_;
  uint64_t last_;
  uint64_t start_;
  uint64_t written_ = 0;
};

class Job {
 public:
  Job(const ParsedCommandLine& commandLine, ToolEnvironment& env, RunLog& log,
      const ScanLimits& limits)
      : cmd_(commandLine), o_(commandLine.options), env_(env), log_(log), limits_(limits) {}

  RunOutcome Run() {
    log_.Line("rmevents (Pelloran) 1.0: removes pop-up advertising streams from RealMedia files");
    if (!cmd_.error.empty()) {
      log_.Line("Error: " + cmd_.error);
      log_.Line(kUsage);
    } else {
      try {
        Clean();
        outcome_.succeeded = true;
      } catch (const Exception& e) {
        log_.Line("Error: " + e.Message());
      } catch (const std::bad_alloc&) {
        log_.Line("Error: not enough memory");
      } catch (const std::exception& e) {
        log_.Line(std::string("Error: ") + e.what());
      }
      if (!outcome_.succeeded) CleanUpAfterFailure();
    }
    log_.Line("***");
    return outcome_;
  }

 private:
  void Clean() {
    const wchar_t last = o_.output.empty() ? L'\\' : o_.output.back();
    if (last == L'\\' || last == L'/' || last == L':')
      throw ERealMediaError("the output path " + Quoted(env_.DisplayPath(o_.output)) +
                            " names a folder, not a file");
    // Before anything is opened: a file that is both would be lost.
    if (env_.SameFile(o_.input, o_.output))
      throw ERealMediaError("the output file is the input file; it was left as it is");
    EventTexts texts = ReadControlFiles();
    std::unique_ptr<InputFile> input = env_.OpenInput(o_.input);
    outcome_.inputSize = input->Size();
    InputLayout layout;
    {
      // The headers are read in small pieces; the packets are read once, in large ones.
      BufferedReader headers(*input, kHeaderReadSize);
      layout = ScanHeaders(headers, limits_);
    }
    LogInput(layout);
    CleanPlan plan = MakePlan(layout, texts);

    output_ = env_.CreateOutput(o_.output);
    ProgressLines progress(*output_, env_, log_, outcome_.inputSize);
    BufferedReader reader(*input);
    BufferedWriter writer(progress);
    CleanResult result = WriteCleanFile(reader, layout, plan, writer);
    progress.BeforeFlush();
    output_->Commit();
    output_.reset();
    LogRemovals(layout, plan, result);
    outcome_.outputSize = result.outputSize;
    const uint64_t in = outcome_.inputSize, out = result.outputSize;
    log_.Line("Wrote: " + Quoted(env_.DisplayPath(o_.output)) + ", " +
              Plural(out, "byte", "bytes") + ", " +
              Plural(result.keptPackets, "packet", "packets") + "; " +
              Plural(in >= out ? in - out : out - in, "byte", "bytes") +
              (in >= out ? " smaller" : " larger") + " than the input");
  }

  // Only the partial file this run created goes; a file at the output path stays as it was.
  void CleanUpAfterFailure() {
    std::unique_ptr<WritableFile> output = std::move(output_);
    if (!output || output->Discard()) {
      log_.Line("Failed: no output file written");
    } else {
      log_.Line("Error: the unfinished output file " +
                Quoted(env_.DisplayPath(PartialOutputPath(o_.output))) + " could not be removed");
    }
  }

  std::string ReadControlFile(const std::wstring& path, const char* what) {
    std::optional<std::string> text = env_.ReadSmallFile(path, kMaxControlFileBytes);
    if (!text)
      throw ERealMediaError(std::string("the ") + what + " " + Quoted(env_.DisplayPath(path)) +
                            " cannot be read");
    return *text;
  }

  EventTexts ReadControlFiles() {
    EventTexts texts;
    if (!o_.events.empty()) {
      std::string name = Quoted(env_.DisplayPath(o_.events));
      EventsFile events = ParseEventsFile(ReadControlFile(o_.events, "events file"));
      texts = events.texts;
      std::string line = "Events: " + name + ": " + Plural(events.events, "event", "events");
      if (texts.title) line += ", title " + Quoted(*texts.title);
      if (texts.author) line += ", author " + Quoted(*texts.author);
      if (texts.copyright) line += ", copyright " + Quoted(*texts.copyright);
      if (!texts.Empty()) line += " for the content description";
      log_.Line(line);
      for (const std::string& note : events.notes) log_.Line("Events: " + name + " " + note);
    }
    if (!o_.imageMap.empty()) {
      ImageMapFile map = ParseImageMapFile(ReadControlFile(o_.imageMap, "image-map file"));
      std::string line = "Image map: " + Quoted(env_.DisplayPath(o_.imageMap)) + ": " +
                         Plural(map.maps, "map", "maps") + ", " +
                         Plural(map.areas, "area", "areas") + ", ";
      line += map.links == 0 ? std::string("no links; nothing to add")
                             : Plural(map.links, "link", "links") +
                                   " not written: the tool adds no links to a file";
      log_.Line(line);
    }
    return texts;
  }

  void LogInput(const InputLayout& layout) {
    size_t logical = 0;
    for (const StreamHeader& s : layout.streams) logical += s.media.IsLogical();
    log_.Line("Read: " + Quoted(env_.DisplayPath(o_.input)) + ", " +
              Plural(layout.fileSize, "byte", "bytes") + ": " +
              Plural(layout.streams.size() - logical, "stream", "streams") + ", " +
              Plural(logical, "logical header", "logical headers") + ", " +
              Plural(layout.data.size(), "DATA chunk", "DATA chunks") + ", " +
              Plural(layout.indexes.size(), "index", "indexes"));
    for (const StreamHeader& s : layout.streams) {
      std::string line = s.media.IsLogical() ? "Read: logical header " : "Read: stream ";
      line += std::to_string(s.media.streamNumber) + ", " + Printable(s.media.mimeType);
      if (!s.media.name.empty()) {
        line += ' ';
        line += Quoted(s.media.name);
      }
      if (s.ad != AdKind::None) line += std::string(" (") + AdKindName(s.ad) + ")";
      log_.Line(line);
    }
    LogNotes(layout.notes);
  }

  void LogRemovals(const InputLayout& layout, const CleanPlan& plan, const CleanResult& result) {
    log_.Line("Read: " + Plural(result.packets, "packet", "packets") + ", " +
              std::to_string(result.packets - result.keptPackets) + " of them advertising");
    size_t removed = 0;
    for (size_t i = 0; i < layout.streams.size(); ++i) {
      if (plan.streamHeaderKept[i]) continue;
      ++removed;
      const StreamHeader& s = layout.streams[i];
      std::string what = std::to_string(s.media.streamNumber) + ", " + Printable(s.media.mimeType);
      if (s.media.IsLogical()) {
        log_.Line("Removed: logical header " + what);
        continue;
      }
      auto it = result.removedByStream.find(s.media.streamNumber);
      StreamCount count = it == result.removedByStream.end() ? StreamCount{} : it->second;
      log_.Line("Removed: stream " + what + " (" + AdKindName(s.ad) + "): its header and " +
                Plural(count.packets, "packet", "packets") + " (" +
                Plural(count.bytes, "byte", "bytes") + ")");
    }
    for (size_t i = 0; i < layout.indexes.size(); ++i) {
      if (!layout.indexes[i].removedStream) continue;
      ++removed;
      log_.Line("Removed: index of stream " + std::to_string(layout.indexes[i].header.stream) +
                " (" + Plural(layout.indexes[i].header.numIndices, "entry", "entries") + ")");
    }
    for (size_t i = 0; i < layout.data.size(); ++i) {
      if (result.dataKept[i]) continue;
      log_.Line("Removed: DATA chunk at offset " + std::to_string(layout.data[i].offset) +
                ", which held advertising only");
    }
    if (removed == 0) log_.Line("Removed: nothing; the file has no event or image-map streams");
    std::vector<std::string> notes = plan.notes;
    notes.insert(notes.end(), result.notes.begin(), result.notes.end());
    LogNotes(notes);
  }

  // A damaged file can have a note for each of thousands of chunks; the first ones tell enough.
  void LogNotes(const std::vector<std::string>& notes) {
    constexpr size_t kMaxNotes = 20;
    for (size_t i = 0; i < notes.size() && i < kMaxNotes; ++i) log_.Line("Note: " + notes[i]);
    if (notes.size() > kMaxNotes)
      log_.Line("Note: and " + std::to_string(notes.size() - kMaxNotes) + " more like these");
  }

  const ParsedCommandLine& cmd_;
  const ToolOptions& o_;
  ToolEnvironment& env_;
  RunLog& log_;
  const ScanLimits& limits_;
  RunOutcome outcome_;
  std::unique_ptr<WritableFile> output_;
};

}  // namespace

RunOutcome RunTool(const ParsedCommandLine& commandLine, ToolEnvironment& env, RunLog& log,
                   const ScanLimits& limits) {
  return Job(commandLine, env, log, limits).Run();
}

int ExitStatus(const ParsedCommandLine& commandLine, const RunOutcome& outcome) {
  if (!commandLine.error.empty()) return 2;
  return outcome.succeeded ? 0 : 1;
}

}  // namespace pelloran::rmevents
