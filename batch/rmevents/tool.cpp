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

const char* AdKindText(LogLanguage lang, AdKind kind) {
  switch (kind) {
    case AdKind::Events: return Say(lang, "event stream", "事件流");
    case AdKind::ImageMap: return Say(lang, "image map", "图像映射");
    case AdKind::None: break;
  }
  return Say(lang, "media", "媒体");
}

// Passes the writes on and logs the bytes written so far, now and then.
class ProgressLines : public OutputFile {
 public:
  ProgressLines(OutputFile& file, ToolEnvironment& env, RunLog& log, LogLanguage lang,
                uint64_t inputSize)
      : file_(file), env_(env), log_(log), lang_(lang), inputSize_(inputSize),
        last_(env.Milliseconds()), start_(last_) {}

  void Write(const void* data, size_t n) override {
    file_.Write(data, n);
    written_ += n;
    const uint64_t now = env_.Milliseconds();
    if (now - last_ < kProgressLineEveryMs) return;
    last_ = now;
    if (lang_ == LogLanguage::Chinese)
      log_.Line("正在写入：已写 " + std::to_string(written_) + " 字节，共约 " +
                std::to_string(inputSize_) + " 字节");
    else
      log_.Line("Writing: " + std::to_string(written_) + " of about " +
                std::to_string(inputSize_) + " bytes");
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    file_.WriteAt(offset, data, n);
  }
  // Before the flush, which on a slow disk can take a while after a long write.
  void BeforeFlush() {
    if (env_.Milliseconds() - start_ >= kProgressLineEveryMs)
      log_.Line(Say(lang_, "Writing: ", "正在写入：已写 ") + std::to_string(written_) +
                Say(lang_, " bytes written, flushing them to the disk", " 字节，正在存入磁盘"));
  }

 private:
  OutputFile& file_;
  ToolEnvironment& env_;
  RunLog& log_;
  LogLanguage lang_;
  uint64_t inputSize_;
  uint64_t last_;
  uint64_t start_;
  uint64_t written_ = 0;
};

class Job {
 public:
  Job(const ParsedCommandLine& commandLine, ToolEnvironment& env, RunLog& log,
      const ScanLimits& limits)
      : cmd_(commandLine), o_(commandLine.options), lang_(o_.language), env_(env), log_(log),
        limits_(limits) {}

  RunOutcome Run() {
    log_.Line(Say(lang_,
                  "rmevents (Pelloran) 1.0: removes pop-up advertising streams from RealMedia files",
                  "rmevents (Pelloran) 1.0：清除 RealMedia 文件中的弹出广告流"));
    if (!cmd_.error.empty()) {
      log_.Line("Error: " + cmd_.error);
      log_.Line(Usage(lang_));
    } else {
      try {
        Clean();
        outcome_.succeeded = true;
      } catch (const Exception& e) {
        log_.Line("Error: " + e.Message());
      } catch (const std::bad_alloc&) {
        log_.Line(std::string("Error: ") + Say(lang_, "not enough memory", "内存不足"));
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
      throw ERealMediaError(Say(lang_, "the output path ", "输出路径 ") +
                            Quoted(env_.DisplayPath(o_.output)) +
                            Say(lang_, " names a folder, not a file", " 是文件夹，不是文件"));
    // Before anything is opened: a file that is both would be lost.
    if (env_.SameFile(o_.input, o_.output))
      throw ERealMediaError(Say(lang_, "the output file is the input file; it was left as it is",
                                "输出文件就是输入文件；该文件保持原样"));
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
    ProgressLines progress(*output_, env_, log_, lang_, outcome_.inputSize);
    BufferedReader reader(*input);
    BufferedWriter writer(progress);
    CleanResult result = WriteCleanFile(reader, layout, plan, writer);
    progress.BeforeFlush();
    output_->Commit();
    output_.reset();
    LogRemovals(layout, plan, result);
    outcome_.outputSize = result.outputSize;
    const uint64_t in = outcome_.inputSize, out = result.outputSize;
    const uint64_t change = in >= out ? in - out : out - in;
    if (lang_ == LogLanguage::Chinese)
      log_.Line("已写入：" + Quoted(env_.DisplayPath(o_.output)) + "，" +
                Plural(out, "", "", "字节") + "，" + Plural(result.keptPackets, "", "", "个数据包") +
                "；比输入" + (in >= out ? "小 " : "大 ") + Plural(change, "", "", "字节"));
    else
      log_.Line("Wrote: " + Quoted(env_.DisplayPath(o_.output)) + ", " +
                Plural(out, "byte", "bytes") + ", " +
                Plural(result.keptPackets, "packet", "packets") + "; " +
                Plural(change, "byte", "bytes") + (in >= out ? " smaller" : " larger") +
                " than the input");
  }

  // Only the partial file this run created goes; a file at the output path stays as it was.
  void CleanUpAfterFailure() {
    std::unique_ptr<WritableFile> output = std::move(output_);
    if (!output || output->Discard()) {
      log_.Line(Say(lang_, "Failed: no output file written", "失败：未写入输出文件"));
    } else {
      log_.Line(std::string("Error: ") + Say(lang_, "the unfinished output file ", "未完成的输出文件 ") +
                Quoted(env_.DisplayPath(PartialOutputPath(o_.output))) +
                Say(lang_, " could not be removed", " 无法删除"));
    }
  }

  // `what` names the file: "the events file", "事件文件".
  std::string ReadControlFile(const std::wstring& path, const char* what) {
    std::optional<std::string> text = env_.ReadSmallFile(path, kMaxControlFileBytes);
    if (!text)
      throw ERealMediaError(Say(lang_, "", "无法读取") + std::string(what) + " " +
                            Quoted(env_.DisplayPath(path)) + Say(lang_, " cannot be read", ""));
    return *text;
  }

  EventTexts ReadControlFiles() {
    EventTexts texts;
    if (!o_.events.empty()) {
      std::string name = Quoted(env_.DisplayPath(o_.events));
      EventsFile events = ParseEventsFile(
          ReadControlFile(o_.events, Say(lang_, "the events file", "事件文件")), lang_);
      texts = events.texts;
      const std::string label = Say(lang_, "Events: ", "事件文件：") + name;
      std::string line = label + Say(lang_, ": ", "：") + Plural(events.events, "event", "events", "个事件");
      if (texts.title) line += Say(lang_, ", title ", "，标题 ") + Quoted(*texts.title);
      if (texts.author) line += Say(lang_, ", author ", "，作者 ") + Quoted(*texts.author);
      if (texts.copyright) line += Say(lang_, ", copyright ", "，版权 ") + Quoted(*texts.copyright);
      if (!texts.Empty()) line += Say(lang_, " for the content description", "，写入内容描述");
      log_.Line(line);
      for (const std::string& note : events.notes) log_.Line(label + " " + note);
    }
    if (!o_.imageMap.empty()) {
      ImageMapFile map = ParseImageMapFile(
          ReadControlFile(o_.imageMap, Say(lang_, "the image-map file", "图像映射文件")));
      const char* comma = Say(lang_, ", ", "，");
      std::string line = Say(lang_, "Image map: ", "图像映射文件：") +
                         Quoted(env_.DisplayPath(o_.imageMap)) + Say(lang_, ": ", "：") +
                         Plural(map.maps, "map", "maps", "个映射") + comma +
                         Plural(map.areas, "area", "areas", "个区域") + comma;
      line += map.links == 0
                  ? std::string(Say(lang_, "no links; nothing to add", "没有链接，无需处理"))
                  : Plural(map.links, "link", "links", "个链接") +
                        Say(lang_, " not written: the tool adds no links to a file",
                            "未写入：本工具不向文件添加链接");
      log_.Line(line);
    }
    return texts;
  }

  void LogInput(const InputLayout& layout) {
    size_t logical = 0;
    for (const StreamHeader& s : layout.streams) logical += s.media.IsLogical();
    const char* comma = Say(lang_, ", ", "，");
    log_.Line(Say(lang_, "Read: ", "读取：") + Quoted(env_.DisplayPath(o_.input)) + comma +
              Plural(layout.fileSize, "byte", "bytes", "字节") + Say(lang_, ": ", "：") +
              Plural(layout.streams.size() - logical, "stream", "streams", "个流") + comma +
              Plural(logical, "logical header", "logical headers", "个逻辑头") + comma +
              Plural(layout.data.size(), "DATA chunk", "DATA chunks", "个 DATA 块") + comma +
              Plural(layout.indexes.size(), "index", "indexes", "个索引"));
    for (const StreamHeader& s : layout.streams) {
      std::string line = s.media.IsLogical() ? Say(lang_, "Read: logical header ", "读取：逻辑头 ")
                                             : Say(lang_, "Read: stream ", "读取：流 ");
      line += std::to_string(s.media.streamNumber) + comma + Printable(s.media.mimeType);
      if (!s.media.name.empty()) {
        line += ' ';
        line += Quoted(s.media.name);
      }
      if (s.ad != AdKind::None)
        line += Say(lang_, " (", "（") + std::string(AdKindText(lang_, s.ad)) + Say(lang_, ")", "）");
      log_.Line(line);
    }
    LogNotes(layout.notes);
  }

  void LogRemovals(const InputLayout& layout, const CleanPlan& plan, const CleanResult& result) {
    const uint64_t ads = result.packets - result.keptPackets;
    if (lang_ == LogLanguage::Chinese)
      log_.Line("读取：" + Plural(result.packets, "", "", "个数据包") + "，其中 " +
                std::to_string(ads) + " 个是广告");
    else
      log_.Line("Read: " + Plural(result.packets, "packet", "packets") + ", " +
                std::to_string(ads) + " of them advertising");
    size_t removed = 0;
    for (size_t i = 0; i < layout.streams.size(); ++i) {
      if (plan.streamHeaderKept[i]) continue;
      ++removed;
      const StreamHeader& s = layout.streams[i];
      std::string what =
          std::to_string(s.media.streamNumber) + Say(lang_, ", ", "，") + Printable(s.media.mimeType);
      if (s.media.IsLogical()) {
        log_.Line(Say(lang_, "Removed: logical header ", "已删除：逻辑头 ") + what);
        continue;
      }
      auto it = result.removedByStream.find(s.media.streamNumber);
      StreamCount count = it == result.removedByStream.end() ? StreamCount{} : it->second;
      if (lang_ == LogLanguage::Chinese)
        log_.Line("已删除：流 " + what + "（" + AdKindText(lang_, s.ad) + "）：其头部和 " +
                  Plural(count.packets, "", "", "个数据包") + "（" +
                  Plural(count.bytes, "", "", "字节") + "）");
      else
        log_.Line("Removed: stream " + what + " (" + AdKindText(lang_, s.ad) +
                  "): its header and " + Plural(count.packets, "packet", "packets") + " (" +
                  Plural(count.bytes, "byte", "bytes") + ")");
    }
    for (size_t i = 0; i < layout.indexes.size(); ++i) {
      if (!layout.indexes[i].removedStream) continue;
      ++removed;
      const IndexChunk& index = layout.indexes[i];
      log_.Line(Say(lang_, "Removed: index of stream ", "已删除：流 ") +
                std::to_string(index.header.stream) + Say(lang_, " (", " 的索引（") +
                Plural(index.header.numIndices, "entry", "entries", "个条目") + Say(lang_, ")", "）"));
    }
    for (size_t i = 0; i < layout.data.size(); ++i) {
      if (result.dataKept[i]) continue;
      log_.Line(Say(lang_, "Removed: DATA chunk at offset ", "已删除：偏移 ") +
                std::to_string(layout.data[i].offset) +
                Say(lang_, ", which held advertising only", " 处的 DATA 块，其中只有广告"));
    }
    if (removed == 0)
      log_.Line(Say(lang_, "Removed: nothing; the file has no event or image-map streams",
                    "已删除：无；文件中没有事件流或图像映射流"));
    std::vector<std::string> notes = plan.notes;
    notes.insert(notes.end(), result.notes.begin(), result.notes.end());
    LogNotes(notes);
  }

  // A damaged file can have a note for each of thousands of chunks; the first ones tell enough.
  void LogNotes(const std::vector<std::string>& notes) {
    constexpr size_t kMaxNotes = 20;
    const std::string label = Say(lang_, "Note: ", "提示：");
    for (size_t i = 0; i < notes.size() && i < kMaxNotes; ++i) log_.Line(label + notes[i]);
    if (notes.size() > kMaxNotes)
      log_.Line(label + Say(lang_, "and ", "另有 ") + std::to_string(notes.size() - kMaxNotes) +
                Say(lang_, " more like these", " 条类似的提示"));
  }

  std::string Plural(uint64_t n, const char* one, const char* many, const char* chinese = "") const {
    return Count(lang_, n, one, many, chinese);
  }

  const ParsedCommandLine& cmd_;
  const ToolOptions& o_;
  const LogLanguage lang_;
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
