#include "crashlog/infra/options/eldata.h"

#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <fstream>

#include "crashlog/infra/options/eldata_module.h"
#include "crashlog/infra/options/options.h"
#include "runtime/scoped_handle.h"
#include "tests/crashlog/infra/options/eldata_fixture.h"
#include "tests/crashlog/infra/options/legacy_option_stream.h"

namespace pelloran::crashlog {
namespace {

using testing::FixtureDebugInfo;
using testing::FixtureOptions;
using testing::kFixtureBuildTime;

std::vector<std::uint8_t> SampleBody() {
  return BuildEldataBody(FixtureOptions(), FixtureDebugInfo());
}

// Independent decoding of the compressed part with zlib's one-call interface.
std::vector<std::uint8_t> Uncompress(std::span<const std::uint8_t> compressed, std::size_t size) {
  std::vector<std::uint8_t> out(size);
  uLongf length = static_cast<uLongf>(size);
  if (uncompress(out.data(), &length, compressed.data(), static_cast<uLong>(compressed.size())) != Z_OK) return {};
  out.resize(length);
  return out;
}

TEST(EldataContainer, CurrentVersionHasHeaderThenOneZlibStream) {
  const auto body = SampleBody();
  const auto container = WriteEldataContainer(454, kFixtureBuildTime, body);
  ASSERT_GT(container.size(), kEldataHeaderSize);
  const std::vector<std::uint8_t> header{0x10, 0xAB, 0x0F, 0x00, 0xC6, 0x01, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::vector<std::uint8_t>(container.begin(), container.begin() + 14), header);
  EXPECT_EQ(Uncompress(std::span(container).subspan(14), body.size()), body);
  EXPECT_LT(container.size(), body.size());

  const auto read = ReadEldataContainer(container);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->DataVersion, 454);
  EXPECT_EQ(read->BuildTime, kFixtureBuildTime);
  EXPECT_EQ(read->Body, body);
}

TEST(EldataContainer, VersionsBefore450CarryThePlainBody) {
  const auto body = BuildEldataBody(testing::BuildLegacyStream(449, testing::TRawFields{}), {}, {});
  const auto container = WriteEldataContainer(449, kFixtureBuildTime, body);
  ASSERT_EQ(container.size(), 14 + body.size());
  EXPECT_TRUE(std::equal(body.begin(), body.end(), container.begin() + 14));
  const auto read = ReadEldataContainer(container);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->DataVersion, 449);
  EXPECT_EQ(read->Body, body);

  TCrashOptionValues values;
  std::optional<std::vector<std::uint8_t>> debugInfo;
  EXPECT_TRUE(ReadEldataBody(read->Body, 449, values, debugInfo));
  EXPECT_EQ(values.SendMode, kSendSmtpServer);  // old send flag with a host
  ASSERT_TRUE(debugInfo.has_value());
  EXPECT_TRUE(debugInfo->empty());
}

TEST(EldataContainer, AppendedFormEndsWithLengthAndMagic) {
  const auto body = SampleBody();
  const auto tail = WriteEldataTail(454, kFixtureBuildTime, body);
  ASSERT_EQ(tail.size(), 10 + body.size() + 8);
  EXPECT_EQ(EldataTailLength(tail), 10 + body.size());
  EXPECT_TRUE(HasEldataTailMagic(tail));

  std::vector<std::uint8_t> file(5000, 0xCC);  // the module image before it
  file.insert(file.end(), tail.begin(), tail.end());
  const auto read = ReadEldataTail(file);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->DataVersion, 454);  // never compressed in this form
  EXPECT_EQ(read->BuildTime, kFixtureBuildTime);
  EXPECT_EQ(read->Body, body);
}

TEST(EldataContainer, DamagedContainersAreRefused) {
  const auto container = WriteEldataContainer(454, kFixtureBuildTime, SampleBody());
  auto badMagic = container;
  badMagic[2] ^= 1;
  EXPECT_FALSE(HasEldataMagic(badMagic));
  EXPECT_FALSE(ReadEldataContainer(badMagic).has_value());
  for (std::size_t length = 0; length < container.size(); ++length)
    ASSERT_FALSE(ReadEldataContainer(std::span(container.data(), length)).has_value()) << length;
  // A changed byte is caught by the stream's structure or its checksum; only unused padding bits
  // of the last compressed byte, or a back-reference moved onto an equal copy (the body holds runs
  // of empty texts), may change without effect.
  const auto body = SampleBody();
  int accepted = 0;
  for (std::size_t at = kEldataHeaderSize; at < container.size(); ++at) {
    auto damaged = container;
    damaged[at] ^= 0x20;
    const auto read = ReadEldataContainer(damaged);
    if (read) {
      ++accepted;
      ASSERT_EQ(read->Body, body) << at;
    }
  }
  EXPECT_LE(accepted, 2);
  auto trailing = container;
  trailing.push_back(0);  // bytes after a complete stream do not matter
  EXPECT_TRUE(ReadEldataContainer(trailing).has_value());

  const auto tail = WriteEldataTail(454, kFixtureBuildTime, SampleBody());
  auto tooLong = tail;
  tooLong[tooLong.size() - 8] += 1;  // length one byte longer than what precedes it
  EXPECT_FALSE(ReadEldataTail(tooLong).has_value());
  auto tooShort = tail;
  std::fill(tooShort.end() - 8, tooShort.end() - 4, 0);  // no room for version and build time
  EXPECT_FALSE(ReadEldataTail(tooShort).has_value());
  EXPECT_FALSE(ReadEldataTail(std::span(tail).last(7)).has_value());
}

TEST(EldataContainer, InflationGrowsPastTheCompressedSizeAndHonoursItsLimit) {
  const std::vector<std::uint8_t> body(3u << 20, 0x41);  // compresses about a thousandfold
  const auto packed = DeflateWhole(body);
  ASSERT_LT(packed.size(), 8192u);
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(InflateWhole(packed, out));
  EXPECT_EQ(out, body);
  EXPECT_FALSE(InflateWhole(packed, out, 1u << 20));
  EXPECT_FALSE(InflateWhole({}, out));

  // Limits below the starting buffer (256 bytes at least) hold as well, to the byte.
  const std::vector<std::uint8_t> small(200, 0x42);
  const auto smallPacked = DeflateWhole(small);
  EXPECT_FALSE(InflateWhole(smallPacked, out, 10));
  EXPECT_LE(out.size(), 10u);
  EXPECT_FALSE(InflateWhole(smallPacked, out, 199));
  ASSERT_TRUE(InflateWhole(smallPacked, out, 200));
  EXPECT_EQ(out, small);
  // A limit that the output reaches exactly, where growth would otherwise overshoot it.
  ASSERT_TRUE(InflateWhole(packed, out, body.size()));
  EXPECT_EQ(out.size(), body.size());
  EXPECT_FALSE(InflateWhole(packed, out, body.size() - 1));
  ASSERT_TRUE(InflateWhole(DeflateWhole({}), out, 0));
  EXPECT_TRUE(out.empty());
}

TEST(EldataContainer, BodyWithoutItsDebugInformationKeepsTheOptions) {
  auto body = SampleBody();
  TByteWriter block;
  SaveAddedBlock(FixtureOptions(), block);
  body.resize(body.size() - block.Size() - 1);
  TCrashOptionValues values;
  std::optional<std::vector<std::uint8_t>> debugInfo;
  EXPECT_FALSE(ReadEldataBody(body, 454, values, debugInfo));
  TCrashOptionValues expected = FixtureOptions();
  expected.SaveMiniDump = false;  // in the added block, after the cut
  EXPECT_EQ(values, expected);
  EXPECT_FALSE(debugInfo.has_value());
}

std::string ThisProgramFile() {
  char name[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return std::string(name, length);
}

TEST(EldataModule, ResourceOfThisProgramIsReadBack) {
  const HMODULE self = GetModuleHandleA(nullptr);
  ASSERT_TRUE(HasEldataResource(self));
  TCrashModuleOptions options(ThisProgramFile(), false);
  const auto loaded = LoadModuleEldata(self, ThisProgramFile(), options);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->DataVersion, kCurrentDataVersion);
  EXPECT_EQ(loaded->BuildTime, kFixtureBuildTime);
  ASSERT_TRUE(loaded->DebugData.has_value());
  EXPECT_EQ(*loaded->DebugData, FixtureDebugInfo());
  EXPECT_EQ(options.Values(), FixtureOptions());
  EXPECT_EQ(options.UpdateCount(), 0);
}

TEST(EldataModule, ResourceOfAModuleLoadedAsDataFile) {
  ScopedGeneric<ModuleTraits> image(LoadLibraryExA(ThisProgramFile().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(image);
  const auto resource = FindEldataResource(image.get());
  ASSERT_TRUE(resource.has_value());
  const auto contents = ReadEldataContainer(*resource);
  ASSERT_TRUE(contents.has_value());
  TCrashOptionValues values;
  std::optional<std::vector<std::uint8_t>> debugInfo;
  EXPECT_TRUE(ReadEldataBody(contents->Body, contents->DataVersion, values, debugInfo));
  EXPECT_EQ(values, FixtureOptions());
}

// A file in the temporary folder, removed again when the test ends.
class TTempFile {
 public:
  TTempFile() {
    char folder[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "eld", 0, name);
    path_ = name;
  }
  ~TTempFile() { DeleteFileA(path_.c_str()); }
  const std::string& Path() const { return path_; }
  void Write(const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
};

// A module image (this program's file) with a container appended in the old way.
std::vector<std::uint8_t> ModuleFileWithTail(const std::vector<std::uint8_t>& tail) {
  std::ifstream in(ThisProgramFile(), std::ios::binary);
  std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

TEST(EldataModule, ContainerAppendedToTheModuleFileIsReadWhenTheResourceIsMissing) {
  testing::TRawFields raw;
  raw.SmtpHost.clear();
  const auto body = BuildEldataBody(testing::BuildLegacyStream(421, raw), FixtureDebugInfo(), {});
  TTempFile file;
  file.Write(ModuleFileWithTail(WriteEldataTail(421, kFixtureBuildTime, body)));
  EXPECT_TRUE(HasEldataFileTail(file.Path()));

  const HMODULE noResource = GetModuleHandleA("kernel32.dll");
  ASSERT_FALSE(HasEldataResource(noResource));
  TCrashModuleOptions options(file.Path(), false);
  const auto loaded = LoadModuleEldata(noResource, file.Path(), options);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->DataVersion, 421);
  EXPECT_EQ(loaded->BuildTime, kFixtureBuildTime);
  EXPECT_EQ(loaded->DebugData, FixtureDebugInfo());
  EXPECT_EQ(options.FreezeTimeout(), 5);
  EXPECT_EQ(options.SendMode(), kSendMailClient);
  EXPECT_FALSE(options.ShowDialog());
  EXPECT_EQ(options.SmtpUser(), raw.SmtpUser);
  EXPECT_EQ(options.GetText(14), raw.Texts[14]);
  EXPECT_EQ(options.GetText(16), DefaultText(16));  // not stored before 450
}

TEST(EldataModule, DamagedOrMissingContainerLeavesTheDefaults) {
  const auto tail = WriteEldataTail(454, kFixtureBuildTime, SampleBody());
  const HMODULE noResource = GetModuleHandleA("kernel32.dll");
  std::vector<std::vector<std::uint8_t>> damagedFiles;
  auto tooLong = ModuleFileWithTail(tail);
  tooLong[tooLong.size() - 5] = 0x7F;  // length word far beyond the file
  damagedFiles.push_back(tooLong);
  auto noMagic = ModuleFileWithTail(tail);
  noMagic.back() ^= 0x40;
  damagedFiles.push_back(noMagic);
  damagedFiles.push_back(ModuleFileWithTail({}));
  damagedFiles.push_back({0x10, 0xAB, 0x0F});  // shorter than a trailer
  for (const auto& bytes : damagedFiles) {
    TTempFile file;
    file.Write(bytes);
    TCrashModuleOptions options(file.Path(), false);
    EXPECT_FALSE(LoadModuleEldata(noResource, file.Path(), options).has_value());
    EXPECT_EQ(options.Values(), TCrashOptionValues{});
    EXPECT_EQ(options.UpdateCount(), 0);
  }
  TCrashModuleOptions options("", false);
  EXPECT_FALSE(LoadModuleEldata(noResource, "Z:\\no\\such\\file.dll", options).has_value());
  EXPECT_EQ(options.Values(), TCrashOptionValues{});
}

// A zlib stream of `size` zero bytes, made in pieces so that the test never holds the whole body.
std::vector<std::uint8_t> DeflatedZeros(std::size_t size) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, 9), Z_OK);
  std::vector<std::uint8_t> zeros(1u << 20);
  std::vector<std::uint8_t> chunk(1u << 16);
  std::vector<std::uint8_t> out;
  std::size_t left = size;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const std::size_t piece = std::min(left, zeros.size());
    left -= piece;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(piece);
    do {
      z.next_out = chunk.data();
      z.avail_out = static_cast<uInt>(chunk.size());
      deflate(&z, flush);
      out.insert(out.end(), chunk.begin(), chunk.end() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

// A resource container with the right header and `body` after it, in place of the compressed body.
std::vector<std::uint8_t> ContainerWithBody(std::span<const std::uint8_t> body) {
  auto container = WriteEldataContainer(kCurrentDataVersion, kFixtureBuildTime, {});
  container.resize(kEldataHeaderSize);
  container.insert(container.end(), body.begin(), body.end());
  return container;
}

// A copy of this program whose only resource is the ELDATA block given, loaded as a data file.
class TModuleWithResource {
 public:
  explicit TModuleWithResource(const std::vector<std::uint8_t>& eldata) {
    const std::string source = ThisProgramFile();
    char folder[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "eld", 0, name);
    path_ = name;
    if (!CopyFileA(source.c_str(), path_.c_str(), FALSE)) return;
    HANDLE update = BeginUpdateResourceA(path_.c_str(), TRUE);
    if (update == nullptr) return;
    const bool added = UpdateResourceA(update, MAKEINTRESOURCEA(10) /* RT_RCDATA */, "ELDATA",
                                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                       const_cast<std::uint8_t*>(eldata.data()), static_cast<DWORD>(eldata.size()));
    if (!EndUpdateResourceA(update, added ? FALSE : TRUE) || !added) return;
    image_.reset(LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  ~TModuleWithResource() {
    image_.reset();
    DeleteFileA(path_.c_str());
  }
  HMODULE Module() const { return image_.get(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  ScopedGeneric<ModuleTraits> image_;
};

// Reserves the address space in large blocks until none is left that could hold a few megabytes,
// so that a large allocation fails as it would in a crowded 32-bit process; frees it again.
class TAddressSpaceHog {
 public:
  TAddressSpaceHog() {
    for (SIZE_T size = 1u << 30; size >= (8u << 20);) {
      if (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
        blocks_.push_back(block);
      else
        size /= 2;
    }
  }
  ~TAddressSpaceHog() {
    for (void* block : blocks_) VirtualFree(block, 0, MEM_RELEASE);
  }
  TAddressSpaceHog(const TAddressSpaceHog&) = delete;
  TAddressSpaceHog& operator=(const TAddressSpaceHog&) = delete;

 private:
  std::vector<void*> blocks_;
};

TEST(EldataModule, ResourceWithTheMagicButADamagedBodyLeavesTheDefaults) {
  const auto good = WriteEldataContainer(kCurrentDataVersion, kFixtureBuildTime, SampleBody());
  const std::vector<std::uint8_t> garbage(4000, 0x5A);
  // Far more than any module carries, in a few hundred kilobytes.
  const auto huge = DeflatedZeros(200u << 20);
  std::vector<std::vector<std::uint8_t>> containers;
  containers.push_back(ContainerWithBody(garbage));
  containers.push_back(std::vector<std::uint8_t>(good.begin(), good.end() - 40));  // stream cut short
  containers.push_back(ContainerWithBody(huge));
  for (std::size_t i = 0; i < containers.size(); ++i) {
    TModuleWithResource module(containers[i]);
    ASSERT_NE(module.Module(), nullptr) << i;
    ASSERT_TRUE(HasEldataResource(module.Module())) << i;
    TCrashModuleOptions options(module.Path(), false);
    EXPECT_FALSE(LoadModuleEldata(module.Module(), module.Path(), options).has_value()) << i;
    EXPECT_EQ(options.Values(), TCrashOptionValues{}) << i;
    EXPECT_EQ(options.UpdateCount(), 0) << i;
  }

  // The same body where memory is short: the reporter must not fail with an exception of its own.
  TModuleWithResource module(containers.back());
  ASSERT_NE(module.Module(), nullptr);
  TCrashModuleOptions options(module.Path(), false);
  std::optional<TModuleEldata> loaded;
  bool threw = false;
  {
    TAddressSpaceHog hog;
    try {
      loaded = LoadModuleEldata(module.Module(), module.Path(), options);
    } catch (...) {
      threw = true;
    }
  }
  EXPECT_FALSE(threw);
  EXPECT_FALSE(loaded.has_value());
  EXPECT_EQ(options.Values(), TCrashOptionValues{});
}

TEST(EldataModule, AppendedContainerLargerThanTheMemoryLeftLeavesTheDefaults) {
  const std::vector<std::uint8_t> body(20u << 20, 0);
  TTempFile file;
  file.Write(ModuleFileWithTail(WriteEldataTail(kCurrentDataVersion, kFixtureBuildTime, body)));
  const HMODULE noResource = GetModuleHandleA("kernel32.dll");
  TCrashModuleOptions options(file.Path(), false);
  std::optional<TModuleEldata> loaded;
  bool threw = false;
  {
    TAddressSpaceHog hog;
    try {
      loaded = LoadModuleEldata(noResource, file.Path(), options);
    } catch (...) {
      threw = true;
    }
  }
  EXPECT_FALSE(threw);
  EXPECT_FALSE(loaded.has_value());
  EXPECT_EQ(options.Values(), TCrashOptionValues{});
}

}  // namespace
}  // namespace pelloran::crashlog
