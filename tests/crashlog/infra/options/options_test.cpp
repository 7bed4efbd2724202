#include "crashlog/infra/options/options.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "crashlog/infra/options/options_channel.h"
#include "crashlog/infra/options/module_payload.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "base/exceptions.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"
#include "tests/crashlog/infra/options/legacy_option_stream.h"

namespace pelloran::crashlog {
namespace {

std::string ThisProgramFile() {
  char name[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return std::string(name, length);
}

// Counts the change notifications that reach DoChange.
class TCountingOptions : public TCrashModuleOptions {
 public:
  using TCrashModuleOptions::TCrashModuleOptions;
  void DoChange() override { ++changes; }
  int changes = 0;
};

TEST(ModuleOptions, CreateGivesDefaultsWithUpdatesClosed) {
  TCrashModuleOptions options("C:\\app\\mod.dll", false);
  EXPECT_EQ(options.ModuleName(), "C:\\app\\mod.dll");
  EXPECT_FALSE(options.PublishChanges());
  EXPECT_EQ(options.UpdateCount(), 0);
  EXPECT_TRUE(options.Active());
  EXPECT_EQ(options.Values(), TCrashOptionValues{});
  EXPECT_EQ(options.GetText(2), "Error.");
  EXPECT_EQ(options.GetText(71), "");
  EXPECT_EQ(options.GetText(-1), "");
}

TEST(ModuleOptions, MaxLoggedErrorsSetterStoresOneForZero) {
  TCrashModuleOptions options("", false);
  options.SetMaxLoggedErrors(0);
  EXPECT_EQ(options.MaxLoggedErrors(), 1);
  options.SetMaxLoggedErrors(5);
  EXPECT_EQ(options.MaxLoggedErrors(), 5);
  testing::TRawFields raw;
  raw.MaxLoggedErrors = 0;
  const auto bytes = testing::BuildLegacyStream(454, raw);
  ASSERT_TRUE(options.LoadFromStream(bytes, 454));
  EXPECT_EQ(options.MaxLoggedErrors(), 0);
}

TEST(ModuleOptions, SetDefaultsKeepsTheFilterListsAndSwitchesActiveOn) {
  TCrashModuleOptions options("", false);
  options.FilterClasses().Add("EFoo");
  options.FilterMessages().Add("foo");
  options.SetSmtpHost("host");
  options.SetActive(false);
  options.SetDefaults();
  EXPECT_EQ(options.SmtpHost(), "");
  EXPECT_TRUE(options.Active());
  EXPECT_EQ(options.FilterClasses().Strings(), std::vector<std::string>{"EFoo"});
  EXPECT_EQ(options.FilterMessages().Strings(), std::vector<std::string>{"foo"});
}

TEST(ModuleOptions, ChangedReachesDoChangeOnlyForThePublishedRunningModule) {
  TCountingOptions published(ThisProgramFile(), true);
  published.SetSmtpHost("a");
  published.SetActive(false);
  published.FilterClasses().Add("E");
  EXPECT_EQ(published.changes, 3);

  TCountingOptions unpublished(ThisProgramFile(), false);
  unpublished.SetSmtpHost("a");
  EXPECT_EQ(unpublished.changes, 0);

  TCountingOptions otherModule("C:\\windows\\system32\\kernel32.dll", true);
  otherModule.SetSmtpHost("a");
  EXPECT_EQ(otherModule.changes, 0);

  TCountingOptions noName("", true);
  noName.SetSmtpHost("a");
  EXPECT_EQ(noName.changes, 0);
}

TEST(ModuleOptions, UpdatesCollapseIntoOneChangeAtTheOutermostEnd) {
  TCountingOptions options(ThisProgramFile(), true);
  options.BeginUpdate();
  options.BeginUpdate();
  options.SetSmtpHost("a");
  options.SetSmtpPort(26);
  options.EndUpdate();
  EXPECT_EQ(options.changes, 0);
  options.SetSmtpUser("u");
  options.EndUpdate();
  EXPECT_EQ(options.changes, 1);
  EXPECT_EQ(options.UpdateCount(), 0);

  options.changes = 0;
  const TCrashModuleOptions source("", false);
  options.Assign(&source);
  EXPECT_EQ(options.changes, 1);
  options.changes = 0;
  const auto bytes = source.SaveToStream();
  options.LoadFromStream(bytes);
  EXPECT_EQ(options.changes, 1);
  options.changes = 0;
  options.SetDefaults();
  EXPECT_EQ(options.changes, 1);
}

TEST(ModuleOptions, EveryTruncatedStreamKeepsUpdateCountingBalanced) {
  for (std::uint16_t version : {400, 421, 449, 454}) {
    const auto bytes = testing::BuildLegacyStream(version, testing::TRawFields{});
    TCountingOptions options(ThisProgramFile(), true);
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
      options.changes = 0;
      const bool complete = options.LoadFromStream(std::span(bytes.data(), length), version);
      ASSERT_EQ(complete, length == bytes.size()) << version << " " << length;
      ASSERT_EQ(options.UpdateCount(), 0) << version << " " << length;
      ASSERT_EQ(options.changes, 1) << version << " " << length;
    }
  }
}

TEST(ModuleOptions, AssignCopiesStoredFieldsButNotNameNorActive) {
  TCrashModuleOptions source("C:\\a.exe", true);
  const auto bytes = testing::BuildLegacyStream(454, testing::TRawFields{});
  ASSERT_TRUE(source.LoadFromStream(bytes));
  source.SetActive(false);
  source.SetMaxLoggedErrors(0);  // 1 through the setter
  source.SetSaveMiniDump(true);

  TCrashModuleOptions target("C:\\b.exe", false);
  target.Assign(&source);
  EXPECT_EQ(target.Values(), source.Values());
  EXPECT_EQ(target.ModuleName(), "C:\\b.exe");
  EXPECT_FALSE(target.PublishChanges());
  EXPECT_TRUE(target.Active());
  EXPECT_EQ(target.UpdateCount(), 0);
}

TEST(ModuleOptions, AssignFromNothingIsAConversionErrorAndFromItselfNothing) {
  TCountingOptions options(ThisProgramFile(), true);
  try {
    options.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Impossible to assign nil as TCrashModuleOptions.");
  }
  EXPECT_EQ(options.UpdateCount(), 0);
  options.Assign(&options);
  EXPECT_EQ(options.changes, 0);
}

// Records, when FreezeDetection is copied, which fields Assign has already copied.
class TOrderProbe : public TCrashModuleOptions {
 public:
  using TCrashModuleOptions::TCrashModuleOptions;
  void SetFreezeDetection(bool value) override {
    ++freezeSetterCalls;
    textsBefore = GetText(0) == "copied text";
    filtersBefore = FilterClasses().Count() == 2 && FilterMessages().Count() == 2;
    customLookBefore = !CustomDialogLook();
    timeoutBefore = FreezeTimeout() == 123;
    TCrashModuleOptions::SetFreezeDetection(value);
  }
  int freezeSetterCalls = 0;
  bool textsBefore = false, filtersBefore = false, customLookBefore = false, timeoutBefore = true;
};

TEST(ModuleOptions, AssignCopiesListsAndTextsFirstThenFieldsThroughTheVirtualSetter) {
  TCrashModuleOptions source("", false);
  testing::TRawFields raw;  // two filter pairs
  raw.Texts[0] = "copied text";
  raw.CustomDialogLook = 0;
  raw.FreezeTimeout = 123;
  const auto bytes = testing::BuildLegacyStream(454, raw);
  ASSERT_TRUE(source.LoadFromStream(bytes));

  TOrderProbe target("", false);
  target.Assign(&source);
  EXPECT_EQ(target.freezeSetterCalls, 1);
  EXPECT_TRUE(target.textsBefore);
  EXPECT_TRUE(target.filtersBefore);
  EXPECT_TRUE(target.customLookBefore);
  EXPECT_FALSE(target.timeoutBefore);
}

TEST(ModuleOptions, OutputFile) {
  TCrashModuleOptions options("C:\\app\\mod.dll", false);
  EXPECT_EQ(options.OutputFile("C:\\app\\mod.dll"), "C:\\app\\mod.dll");
  EXPECT_EQ(options.OutputLogFile(), "C:\\app\\mod.elf");
  EXPECT_EQ(options.OutputFile("mod.dll"), "\\mod.dll");
  options.SetOutputPath("D:\\logs");
  EXPECT_EQ(options.OutputFile("C:\\app\\mod.dll"), "D:\\logs\\mod.dll");
  EXPECT_EQ(options.OutputLogFile(), "D:\\logs\\mod.elf");
  options.SetOutputPath("D:\\logs\\");
  EXPECT_EQ(options.OutputFile("C:\\app\\mod.dll"), "D:\\logs\\mod.dll");
  options.SetOutputPath("D:\\x.ELF");
  EXPECT_EQ(options.OutputFile("C:\\app\\mod.dll"), "D:\\x.ELF");
  EXPECT_EQ(options.OutputLogFile(), "D:\\x.ELF");
  // A double-byte character whose second byte is 0x5C does not end the folder with a separator.
  options.SetOutputPath("D:\\\xC7\x5C");
  EXPECT_EQ(options.OutputFile("C:\\app\\mod.dll"), "D:\\\xC7\x5C\\mod.dll");
  options.SetOutputPath("");
  options.SetModuleName("C:\\\xC7\x5C\\mod.v1.dll");
  EXPECT_EQ(options.OutputLogFile(), "C:\\\xC7\x5C\\mod.v1.elf");
}

bool TraceHasLineEndingWith(std::string_view tail) {
  for (const std::string& line : TraceLog().Lines())
    if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) return true;
  return false;
}

TEST(ModuleOptions, OperationsWriteTheirTraceEntries) {
  SetTraceEnabled(true);
  {
    TCrashModuleOptions options("C:\\app\\mod.dll", false);
    options.SetOutputPath("D:\\logs");
    TCrashModuleOptions copy("C:\\app\\copy.dll", false);
    copy.Assign(&options);
    EXPECT_EQ(options.OutputLogFile(), "D:\\logs\\mod.elf");
  }
  SetTraceEnabled(false);
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.Create('C:\\app\\mod.dll')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.SetDefaults('C:\\app\\mod.dll')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.Assign('C:\\app\\copy.dll', 'C:\\app\\mod.dll')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.OutputLogFile('C:\\app\\mod.dll')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.OutputFile('C:\\app\\mod.dll')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.OutputFile=('D:\\logs\\mod.elf')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.OutputLogFile=('D:\\logs\\mod.elf')"));
  EXPECT_TRUE(TraceHasLineEndingWith("TCrashModuleOptions.Destroy('C:\\app\\mod.dll')"));
}

TCrashModuleOptionsEx* registeredOptions = nullptr;
TCrashModuleOptionsEx* LookUpRegistered() { return registeredOptions; }

class CurrentOptions : public ::testing::Test {
 protected:
  void TearDown() override {
    SetCurrentCrashLogOptionsLookup(nullptr);
    SetFreezeWatcherSwitch(nullptr);
    registeredOptions = nullptr;
    CloseModuleChannel();
  }
};

TEST_F(CurrentOptions, WithoutActiveReporterTheAssertionFails) {
  try {
    CurrentCrashLogOptions();
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("Cannot use 'CurrentCrashLogOptions' function without CrashLog activate.", 0), 0u)
        << e.Message();
  }
  SetCurrentCrashLogOptionsLookup(&LookUpRegistered);  // registry present, running module missing
  EXPECT_THROW(CurrentCrashLogOptions(), EAssertionFailed);
  TCrashModuleOptionsEx own(ThisProgramFile(), true);
  registeredOptions = &own;
  EXPECT_EQ(&CurrentCrashLogOptions(), &own);
}

std::vector<bool> freezeSwitches;
void RecordFreezeSwitch(bool run) { freezeSwitches.push_back(run); }

TEST_F(CurrentOptions, RunningModulesSetDrivesTheFreezeWatcherOnRealChangesOnly) {
  freezeSwitches.clear();
  SetFreezeWatcherSwitch(&RecordFreezeSwitch);
  TCrashModuleOptionsEx own(ThisProgramFile(), true);
  TCrashModuleOptionsEx other("C:\\other.dll", true);
  registeredOptions = &own;
  SetCurrentCrashLogOptionsLookup(&LookUpRegistered);

  other.SetFreezeDetection(true);
  EXPECT_TRUE(freezeSwitches.empty());
  own.SetFreezeDetection(false);  // unchanged
  EXPECT_TRUE(freezeSwitches.empty());
  own.SetFreezeDetection(true);
  own.SetActive(true);  // unchanged
  own.SetActive(false);
  own.SetActive(true);
  own.SetFreezeDetection(false);
  EXPECT_EQ(freezeSwitches, (std::vector<bool>{true, false, true, false}));
}

TEST_F(CurrentOptions, ChannelPublishedByOneSetIsReadBackByAnotherReader) {
  ASSERT_TRUE(OpenModuleChannel());
  EXPECT_FALSE(ReadPublishedOptions(nullptr).has_value());
  EXPECT_EQ(ReadSharedChannel(kModuleChannel, nullptr), std::vector<std::uint8_t>{0});

  TCrashModuleOptionsEx own(ThisProgramFile(), true);
  // Creation already published the defaults.
  ASSERT_TRUE(ReadPublishedOptions(nullptr).has_value());
  EXPECT_EQ(*ReadPublishedOptions(nullptr), own.SaveToStream());

  own.BeginUpdate();
  own.SetSmtpHost("smtp.example.com");
  own.SetSendMode(kSendSmtpServer);
  own.FilterClasses().Add("EAbort");
  own.FilterMessages().Add("");
  own.EndUpdate();

  TCrashModuleOptions reader("C:\\elsewhere\\host.exe", false);
  ASSERT_TRUE(LoadPublishedOptions(nullptr, reader, kCurrentDataVersion));
  EXPECT_EQ(reader.Values(), own.Values());
  EXPECT_EQ(reader.SmtpHost(), "smtp.example.com");

  // Sets of other modules or without PublishChanges publish nothing.
  TCrashModuleOptionsEx other("C:\\other.dll", true);
  TCrashModuleOptionsEx working(ThisProgramFile(), false);
  other.SetSmtpHost("other");
  working.SetSmtpHost("working");
  ASSERT_TRUE(LoadPublishedOptions(nullptr, reader, kCurrentDataVersion));
  EXPECT_EQ(reader.SmtpHost(), "smtp.example.com");

  CloseModuleChannel();
  EXPECT_FALSE(ReadPublishedOptions(nullptr).has_value());
}

TEST_F(CurrentOptions, AModuleBlockMadeBeforeTheReporterIsNeitherReadNorWritten) {
  CloseModuleChannel();
  // Somebody made the block first, with options of their choosing in it.
  TCrashModuleOptions forged("", false);
  forged.SetSmtpHost("smtp.forger.example");
  const std::vector<std::uint8_t> payload = EncodeModulePayload(forged.SaveToStream());
  const std::string name = SharedChannelName(GetCurrentProcessId(),
                                             reinterpret_cast<std::uintptr_t>(RunningModule()), kModuleChannel);
  HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, name.c_str());
  ASSERT_NE(block, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(block, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const auto total = static_cast<std::uint32_t>(payload.size() + 4);
  std::memcpy(view, &total, 4);
  std::memcpy(view + 4, payload.data(), payload.size());
  SetTraceEnabled(true);

  EXPECT_FALSE(OpenModuleChannel());
  EXPECT_FALSE(ReadPublishedOptions(nullptr).has_value());
  // The options (with the mail password) do not go into it either.
  TCrashModuleOptionsEx own(ThisProgramFile(), true);
  own.SetSmtpHost("smtp.example.com");
  EXPECT_EQ(std::vector<std::uint8_t>(view + 4, view + 4 + payload.size()), payload);
  bool traced = false;
  for (const std::string& line : TraceLog().Lines())
    traced = traced || line.find("OpenModuleChannel: the MODULE block existed before the reporter made it") !=
                           std::string::npos;
  EXPECT_TRUE(traced);
  SetTraceEnabled(false);
  UnmapViewOfFile(view);
  CloseHandle(block);
  CloseModuleChannel();
  EXPECT_TRUE(OpenModuleChannel());  // made afresh, it is ours again
  CloseModuleChannel();
}

TEST_F(CurrentOptions, PublishedOptionsAreReadInTheCurrentLayoutWhateverTheContainerVersion) {
  ASSERT_TRUE(OpenModuleChannel());
  TCrashModuleOptions source("", false);
  source.SetSmtpHost("smtp.example.com");
  source.SetFreezeTimeout(33);
  source.FilterClasses().Add("EAbort");
  source.FilterMessages().Add("");
  const auto stream = source.SaveToStream();
  ASSERT_TRUE(PublishModuleOptions(stream));

  // The module's own container is older; what it publishes at run time is not.
  TCrashModuleOptions reader("C:\\elsewhere\\host.exe", false);
  EXPECT_TRUE(LoadPublishedOptions(nullptr, reader, 421));
  EXPECT_EQ(reader.Values(), source.Values());

  // A stream cut short is reported, not taken for a complete one.
  ASSERT_TRUE(PublishModuleOptions(std::span(stream).first(stream.size() - 3)));
  TCrashModuleOptions cutReader("C:\\elsewhere\\host.exe", false);
  EXPECT_FALSE(LoadPublishedOptions(nullptr, cutReader, kCurrentDataVersion));
  CloseModuleChannel();
}

TEST(ModuleChannel, OutlivesTheProgramsStaticsSoFinalisationCanStillPublish) {
  std::string output;
  ASSERT_EQ(pelloran::testing::RunProgramCapturing(
                "\"" + pelloran::testing::SiblingProgram("crashlog_options_probe.exe") + "\"", output),
            0u);
  EXPECT_EQ(output, "early=A1A2 late=B1");
}

}  // namespace
}  // namespace pelloran::crashlog
