#pragma once
// The option set of one module that carries the crash reporter: what the error dialog shows,
// what is logged and mailed, the 71 user-visible texts, freeze detection and the exceptions
// filter. The stored fields live in a TCrashOptionValues record (option_stream.h), whose stored
// form the build tool writes; this class adds change notification and the run-time rules.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog {

// A string list that reports every change to its owner (the filter lists). It edits a vector
// that belongs to the owner's stored values.
class TCrashStringList {
 public:
  TCrashStringList(std::vector<std::string>& items, std::function<void()> onChange)
      : items_(items), onChange_(std::move(onChange)) {}
  TCrashStringList(const TCrashStringList&) = delete;
  TCrashStringList& operator=(const TCrashStringList&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const { return items_.at(static_cast<std::size_t>(index)); }
  const std::vector<std::string>& Strings() const noexcept { return items_; }

  void Add(std::string item);
  void Put(int index, std::string item);
  void Delete(int index);
  void Clear();
  void Assign(const std::vector<std::string>& items);

 private:
  std::vector<std::string>& items_;
  std::function<void()> onChange_;
};

// Numbers and flags are returned by value, texts by reference.
template <typename T>
using TOptionGet = std::conditional_t<std::is_scalar_v<T>, T, const T&>;

class TCrashModuleOptions {
 public:
  TCrashModuleOptions(std::string moduleName, bool publishChanges);
  virtual ~TCrashModuleOptions();
  TCrashModuleOptions(const TCrashModuleOptions&) = delete;
  TCrashModuleOptions& operator=(const TCrashModuleOptions&) = delete;

  // Called by Changed outside updates of a published set of the running module; empty here.
  virtual void DoChange();
  virtual void SetActive(bool value);
  virtual void SetFreezeDetection(bool value);
  // Copies the stored fields of `source` (not PublishChanges, ModuleName, Active). A null source
  // raises EConvertError.
  virtual void Assign(const TCrashModuleOptions* source);
  // Every stored field to its default, Active to true; the filter lists are left alone.
  virtual void SetDefaults();
  // Appends the OptionStream in the current layout.
  virtual void SaveToStream(TByteWriter& stream) const;
  // Reads the OptionStream of `dataVersion` from the reader's position. Fields that this version
  // does not carry, and all fields after a short or damaged end, keep their values. Returns false
  // when the stream ended early.
  virtual bool LoadFromStream(TByteReader& stream, std::uint16_t dataVersion = kCurrentDataVersion);

  std::vector<std::uint8_t> SaveToStream() const;
  bool LoadFromStream(std::span<const std::uint8_t> stream, std::uint16_t dataVersion = kCurrentDataVersion);
  // Loads through `read`, one of the stored forms' readers (an ELDATA body, for one), as one update.
  bool LoadFromStream(const std::function<bool(TCrashOptionValues&)>& read);

  // Changes between BeginUpdate and the EndUpdate that closes the outermost update give one
  // Changed, at that EndUpdate.
  void BeginUpdate() noexcept { ++updateCount_; }
  void EndUpdate();
  // Runs `body` inside one update, which ends whether body returns or raises; the Changed of that
  // end may raise to the caller, as a written-out EndUpdate would.
  template <class Body>
  auto InOneUpdate(Body&& body) -> decltype(body());
  // DoChange when no update is open, PublishChanges is set and ModuleName is the running module.
  void Changed();
  int UpdateCount() const noexcept { return updateCount_; }

  bool PublishChanges() const noexcept { return publishChanges_; }
  const std::string& ModuleName() const noexcept { return moduleName_; }
  void SetModuleName(std::string value);
  bool Active() const noexcept { return active_; }

  // Texts[index], 0 to 70 (an index outside gives an empty text).
  const std::string& GetText(int index) const;

  // Where an output file called like `fileName` goes: the OutputPath folder (or the folder of
  // `fileName` when OutputPath is empty) with the file part of `fileName`; OutputPath itself when
  // it names an ".elf" file.
  std::string OutputFile(std::string_view fileName) const;
  // The ".elf" log file of this module.
  std::string OutputLogFile() const;

  // All stored fields at once (read-only; change them through the setters).
  const TCrashOptionValues& Values() const noexcept { return values_; }

  TCrashStringList& FilterClasses() noexcept { return filterClasses_; }
  const TCrashStringList& FilterClasses() const noexcept { return filterClasses_; }
  TCrashStringList& FilterMessages() noexcept { return filterMessages_; }
  const TCrashStringList& FilterMessages() const noexcept { return filterMessages_; }

  // Stored fields (option_list.h): a getter each, and a setter that stores, then Changed. Fields
  // marked Own write their setter by hand (below and above).
#define PELLORAN_OPTION_GETTER(Type, Name, Default, From, Load, Access) \
  TOptionGet<Type> Name() const noexcept { return values_.Name; }
#define PELLORAN_OPTION_SETTER_Plain(Type, Name) \
  void Set##Name(Type value) {                    \
    values_.Name = std::move(value);              \
    Changed();                                    \
  }
#define PELLORAN_OPTION_SETTER_Own(Type, Name)
#define PELLORAN_OPTION_ACCESSORS(Type, Name, Default, From, Load, Access) \
  PELLORAN_OPTION_GETTER(Type, Name, Default, From, Load, Access)          \
  PELLORAN_OPTION_SETTER_##Access(Type, Name)
  PELLORAN_OPTIONS(PELLORAN_OPTION_ACCESSORS)
#undef PELLORAN_OPTION_ACCESSORS
#undef PELLORAN_OPTION_SETTER_Own
#undef PELLORAN_OPTION_SETTER_Plain
#undef PELLORAN_OPTION_GETTER

  // A log that keeps no error at all makes no sense: 0 is stored as 1.
  void SetMaxLoggedErrors(std::int32_t value);

 private:
  void StoreDefaults();

  bool publishChanges_;
  int updateCount_ = 0;
  std::string moduleName_;
  bool active_ = true;
  TCrashOptionValues values_;
  TCrashStringList filterClasses_;
  TCrashStringList filterMessages_;
};

// The option set of a registered module: its changes are published to the module's MODULE
// channel, and the running module's own set switches the freeze watcher.
class TCrashModuleOptionsEx : public TCrashModuleOptions {
 public:
  TCrashModuleOptionsEx(std::string moduleName, bool publishChanges);

  void DoChange() override;
  void SetActive(bool value) override;
  void SetFreezeDetection(bool value) override;

 private:
  void SwitchFreezeWatcher();
};

// The running module's option set as the module registry holds it. The registry installs the
// lookup when the crash reporter becomes active and removes it (nullptr) when it ends.
using TCurrentOptionsLookup = TCrashModuleOptionsEx* (*)();
void SetCurrentCrashLogOptionsLookup(TCurrentOptionsLookup lookup) noexcept;
// The running module's option set, or nullptr when the crash reporter is not active or the
// running module is not registered.
TCrashModuleOptionsEx* FindCurrentCrashLogOptions() noexcept;
// Same, but raises EAssertionFailed "Cannot use 'CurrentCrashLogOptions' function without
// CrashLog activate." when there is none.
TCrashModuleOptionsEx& CurrentCrashLogOptions();

// Starts (true) or stops (false) the freeze watcher; installed by the freeze detection.
using TFreezeWatcherSwitch = void (*)(bool run);
void SetFreezeWatcherSwitch(TFreezeWatcherSwitch freezeSwitch) noexcept;

// True when `fileName` names the module that holds this code (the running module).
bool IsRunningModuleFile(const std::string& fileName);

template <class Body>
auto TCrashModuleOptions::InOneUpdate(Body&& body) -> decltype(body()) {
  BeginUpdate();
  if constexpr (std::is_void_v<decltype(body())>) {
    try {
      body();
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  } else {
    decltype(body()) result{};
    try {
      result = body();
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return result;
  }
}

}  // namespace pelloran::crashlog
