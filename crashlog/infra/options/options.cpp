#include "crashlog/infra/options/options.h"

#include <windows.h>

#include <atomic>

#include "base/ansi_path.h"
#include "crashlog/infra/options/options_channel.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "base/exceptions.h"

namespace pelloran::crashlog {

namespace {

std::atomic<TCurrentOptionsLookup> currentOptionsLookup{nullptr};
std::atomic<TFreezeWatcherSwitch> freezeWatcherSwitch{nullptr};

// Module names and output paths are split at "\" and ":" only.
std::size_t AfterLastDelimiter(std::string_view path) { return AfterLastPathDelimiter(path, "\\:"); }

bool EndsWithBackslash(std::string_view path) {
  const std::size_t after = AfterLastDelimiter(path);
  return after > 0 && after == path.size() && path.back() == '\\';
}

std::string_view FolderPart(std::string_view path) { return path.substr(0, AfterLastDelimiter(path)); }
std::string_view FilePart(std::string_view path) { return path.substr(AfterLastDelimiter(path)); }

// The extension with its dot, or empty.
std::string_view ExtensionPart(std::string_view path) {
  const std::string_view file = FilePart(path);
  const std::size_t dot = file.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : file.substr(dot);
}

std::string ChangeExtension(std::string_view path, std::string_view extension) {
  std::string out(path.substr(0, path.size() - ExtensionPart(path).size()));
  out += extension;
  return out;
}

}  // namespace

// ---- TCrashStringList ----

void TCrashStringList::Add(std::string item) {
  items_.push_back(std::move(item));
  onChange_();
}

void TCrashStringList::Put(int index, std::string item) {
  items_.at(static_cast<std::size_t>(index)) = std::move(item);
  onChange_();
}

void TCrashStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("TCrashStringList::Delete");
  items_.erase(items_.begin() + index);
  onChange_();
}

void TCrashStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  onChange_();
}

void TCrashStringList::Assign(const std::vector<std::string>& items) {
  if (&items == &items_) return;
  items_ = items;
  onChange_();
}

// ---- TCrashModuleOptions ----

TCrashModuleOptions::TCrashModuleOptions(std::string moduleName, bool publishChanges)
    : publishChanges_(publishChanges),
      moduleName_(std::move(moduleName)),
      filterClasses_(values_.FilterClasses, [this] { Changed(); }),
      filterMessages_(values_.FilterMessages, [this] { Changed(); }) {
  Trace("TCrashModuleOptions.Create", {moduleName_});
  SetDefaults();
  updateCount_ = 0;
}

TCrashModuleOptions::~TCrashModuleOptions() { Trace("TCrashModuleOptions.Destroy", {moduleName_}); }

void TCrashModuleOptions::DoChange() {}

void TCrashModuleOptions::SetActive(bool value) {
  active_ = value;
  Changed();
}

void TCrashModuleOptions::SetFreezeDetection(bool value) {
  values_.FreezeDetection = value;
  Changed();
}

void TCrashModuleOptions::SetMaxLoggedErrors(std::int32_t value) {
  values_.MaxLoggedErrors = value == 0 ? 1 : value;
  Changed();
}

void TCrashModuleOptions::SetModuleName(std::string value) {
  moduleName_ = std::move(value);
  Changed();
}

void TCrashModuleOptions::StoreDefaults() {
  // The filter lists belong to the exceptions filter and survive a reset.
  TCrashOptionValues defaults;
  defaults.FilterClasses = std::move(values_.FilterClasses);
  defaults.FilterMessages = std::move(values_.FilterMessages);
  values_ = std::move(defaults);
}

void TCrashModuleOptions::SetDefaults() {
  Trace("TCrashModuleOptions.SetDefaults", {moduleName_});
  InOneUpdate([this] {
    StoreDefaults();
    active_ = true;
  });
}

void TCrashModuleOptions::Assign(const TCrashModuleOptions* source) {
  Trace("TCrashModuleOptions.Assign",
        {moduleName_, source == nullptr ? std::string_view() : std::string_view(source->moduleName_)});
  if (source == nullptr) throw EConvertError("Impossible to assign nil as TCrashModuleOptions.");
  if (source == this) return;
  const TCrashOptionValues& s = source->values_;
  InOneUpdate([&] {
    filterClasses_.Assign(s.FilterClasses);
    filterMessages_.Assign(s.FilterMessages);
    values_.Texts = s.Texts;
    // Through the setters, so that a set of the running module switches its freeze watcher.
#define PELLORAN_ASSIGN_OPTION(Type, Name, Default, From, Load, Access) Set##Name(s.Name);
    PELLORAN_OPTIONS(PELLORAN_ASSIGN_OPTION)
#undef PELLORAN_ASSIGN_OPTION
  });
}

void TCrashModuleOptions::SaveToStream(TByteWriter& stream) const {
  Trace("TCrashModuleOptions.SaveToStream", {moduleName_});
  SaveOptionStream(values_, stream);
}

std::vector<std::uint8_t> TCrashModuleOptions::SaveToStream() const {
  TByteWriter stream;
  SaveToStream(stream);
  return stream.Take();
}

bool TCrashModuleOptions::LoadFromStream(TByteReader& stream, std::uint16_t dataVersion) {
  return LoadFromStream([&](TCrashOptionValues& values) { return LoadOptionStream(stream, dataVersion, values); });
}

bool TCrashModuleOptions::LoadFromStream(const std::function<bool(TCrashOptionValues&)>& read) {
  Trace("TCrashModuleOptions.LoadFromStream", {moduleName_});
  return InOneUpdate([&] { return read(values_); });
}

bool TCrashModuleOptions::LoadFromStream(std::span<const std::uint8_t> stream, std::uint16_t dataVersion) {
  TByteReader reader(stream);
  return LoadFromStream(reader, dataVersion);
}

void TCrashModuleOptions::EndUpdate() {
  // Closing the outermost update reports the changes made inside it; without this, changes an
  // application makes inside its own update would never be published.
  if (--updateCount_ <= 0) Changed();
}

void TCrashModuleOptions::Changed() {
  if (updateCount_ <= 0 && publishChanges_ && IsRunningModuleFile(moduleName_)) DoChange();
}

const std::string& TCrashModuleOptions::GetText(int index) const {
  static const std::string none;
  if (index < 0 || index >= kTextCount) return none;
  return values_.Texts[static_cast<std::size_t>(index)];
}

std::string TCrashModuleOptions::OutputFile(std::string_view fileName) const {
  TraceEnter("TCrashModuleOptions.OutputFile", {moduleName_});
  std::string result;
  const std::string& outputPath = values_.OutputPath;
  if (AsciiLower(ExtensionPart(outputPath)) == ".elf") {
    result = outputPath;
  } else {
    std::string folder(outputPath.empty() ? FolderPart(fileName) : std::string_view(outputPath));
    if (!EndsWithBackslash(folder)) folder += '\\';
    result = folder + std::string(FilePart(fileName));
  }
  TraceLeave("TCrashModuleOptions.OutputFile", {result});
  return result;
}

std::string TCrashModuleOptions::OutputLogFile() const {
  TraceEnter("TCrashModuleOptions.OutputLogFile", {moduleName_});
  std::string result = OutputFile(ChangeExtension(moduleName_, ".elf"));
  TraceLeave("TCrashModuleOptions.OutputLogFile", {result});
  return result;
}

// ---- TCrashModuleOptionsEx ----

TCrashModuleOptionsEx::TCrashModuleOptionsEx(std::string moduleName, bool publishChanges)
    : TCrashModuleOptions(std::move(moduleName), publishChanges) {
  // The base constructor's SetDefaults could not reach this class's DoChange yet: publish the
  // fresh defaults now, as a set created for the running module must.
  Changed();
}

void TCrashModuleOptionsEx::DoChange() {
  TCrashModuleOptions::DoChange();
  PublishModuleOptions(SaveToStream());
}

void TCrashModuleOptionsEx::SetActive(bool value) {
  if (FindCurrentCrashLogOptions() != this) {
    TCrashModuleOptions::SetActive(value);
    return;
  }
  if (value == Active()) return;
  TCrashModuleOptions::SetActive(value);
  SwitchFreezeWatcher();
}

void TCrashModuleOptionsEx::SetFreezeDetection(bool value) {
  if (FindCurrentCrashLogOptions() != this) {
    TCrashModuleOptions::SetFreezeDetection(value);
    return;
  }
  if (value == FreezeDetection()) return;
  TCrashModuleOptions::SetFreezeDetection(value);
  SwitchFreezeWatcher();
}

void TCrashModuleOptionsEx::SwitchFreezeWatcher() {
  if (const TFreezeWatcherSwitch freezeSwitch = freezeWatcherSwitch.load()) freezeSwitch(Active() && FreezeDetection());
}

// ---- the running module's set ----

void SetCurrentCrashLogOptionsLookup(TCurrentOptionsLookup lookup) noexcept { currentOptionsLookup.store(lookup); }

TCrashModuleOptionsEx* FindCurrentCrashLogOptions() noexcept {
  const TCurrentOptionsLookup lookup = currentOptionsLookup.load();
  return lookup == nullptr ? nullptr : lookup();
}

TCrashModuleOptionsEx& CurrentCrashLogOptions() {
  TCrashModuleOptionsEx* options = FindCurrentCrashLogOptions();
  PELLORAN_ASSERT(options != nullptr, "Cannot use 'CurrentCrashLogOptions' function without CrashLog activate.");
  return *options;
}

void SetFreezeWatcherSwitch(TFreezeWatcherSwitch freezeSwitch) noexcept { freezeWatcherSwitch.store(freezeSwitch); }

bool IsRunningModuleFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  const HMODULE module = GetModuleHandleA(fileName.c_str());
  return module != nullptr && module == RunningModule();
}

}  // namespace pelloran::crashlog
