#include "batch/batch_io.h"

#include <gtest/gtest.h>

#include "batch/control_files.h"
#include "base/exceptions.h"
#include "runtime/scoped_handle.h"
#include "tests/support/window_test_support.h"

namespace pelloran {
namespace {

using testing::MakeFile;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEST(BatchIo, ExeDirIsTheProgramsFolderWithASeparator) {
  char path[MAX_PATH];
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = ExeDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  EXPECT_EQ(std::string(path).rfind(dir, 0), 0u);
  EXPECT_EQ(std::string(path).find('\\', dir.size()), std::string::npos);
}

TEST(BatchIo, SizesAreMeasuredWithoutOpeningTheFile) {
  TempFolder dir;
  EXPECT_EQ(FileSizeOf(dir / "missing.rm"), 0);
  EXPECT_EQ(FileSizeOf(dir / "no\\such\\folder\\x.rm"), 0);
  EXPECT_EQ(FileSizeOf(dir.Path()), 0);  // a folder is no file
  WriteBytes(dir / "a.rm", std::string(1234, 'a'));
  EXPECT_EQ(FileSizeOf(dir / "a.rm"), 1234);

  // The tool holds its output open for writing and shares nothing but reading.
  ScopedFileHandle writer(::CreateFileA((dir / "busy.rm").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  DWORD done = 0;
  ASSERT_TRUE(::WriteFile(writer.get(), "0123456789", 10, &done, nullptr));
  ::FlushFileBuffers(writer.get());
  EXPECT_EQ(FileSizeOf(dir / "busy.rm"), 10);
  ScopedFileHandle exclusive(::CreateFileA((dir / "locked.rm").c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(exclusive);
  EXPECT_EQ(FileSizeOf(dir / "locked.rm"), 0);
}

TEST(BatchIo, FilesOfFourGigabytesAndMoreHaveTheirExactSize) {
  TempFolder dir;
  const long long size = 4LL * 1024 * 1024 * 1024 + 4097;  // sparse: takes no room on disk
  MakeFile(dir / "huge.rmvb", "RMF", size);
  EXPECT_EQ(FileSizeOf(dir / "huge.rmvb"), size);
}

TEST(BatchIo, MeasuringFailuresOtherThanAMissingFileRaise) {
  // A narrow path longer than MAX_PATH cannot even be looked up: ERROR_FILENAME_EXCED_RANGE.
  const std::string tooLong = "C:\\" + std::string(300, 'x') + "\\y.rm";
  bool raised = false;
  try {
    FileSizeOf(tooLong);
  } catch (const EInOutError& e) {
    raised = true;
    EXPECT_EQ(e.ErrorCode, static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE));
    const std::string message = e.Message();
    EXPECT_EQ(message.rfind("I/O error 206", 0), 0u) << message;
    const std::string tail = " (" + tooLong + ")";
    ASSERT_GE(message.size(), tail.size());
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
  }
  EXPECT_TRUE(raised) << "a path that cannot be looked up measured as a missing file";
}

TEST(BatchIo, ControlFilesAreWrittenByteForByteIntoExeDir) {
  WriteEventsFile();
  WriteImageMapFile();
  const std::string events = ReadBytes(ExeDir() + kEventsFileName);
  const std::string map = ReadBytes(ExeDir() + kImageMapFileName);
  EXPECT_EQ(events, EventsFileText());
  EXPECT_EQ(map, ImageMapFileText());
  // A second job writes the same bytes again over them.
  WriteBytes(ExeDir() + kEventsFileName, std::string(5000, 'z'));
  WriteEventsFile();
  WriteImageMapFile();
  EXPECT_EQ(ReadBytes(ExeDir() + kEventsFileName), events);
  EXPECT_EQ(ReadBytes(ExeDir() + kImageMapFileName), map);
}

TEST(BatchIo, AControlFileThatCannotBeWrittenRaisesAnIoError) {
  TempFolder dir;
  ::CreateDirectoryA((dir / "blocked").c_str(), nullptr);
  EXPECT_THROW(WriteWholeFile(dir / "blocked", "x"), EInOutError);
  EXPECT_THROW(WriteWholeFile(dir / "no\\such\\folder.txt", "x"), EInOutError);
}

TEST(BatchIo, ReadWholeFileReadsBytesAndDeniesWritersMeanwhile) {
  TempFolder dir;
  EXPECT_EQ(ReadWholeFile(dir / "missing.txt"), "");
  const std::string bytes("a\0b\r\n\xB0\xA1", 7);
  WriteBytes(dir / "log.txt", bytes);
  EXPECT_EQ(ReadWholeFile(dir / "log.txt"), bytes);
  // A log that the tool still holds exclusively reads as empty.
  ScopedFileHandle exclusive(::CreateFileA((dir / "log.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(exclusive);
  EXPECT_EQ(ReadWholeFile(dir / "log.txt"), "");
}

}  // namespace
}  // namespace pelloran
