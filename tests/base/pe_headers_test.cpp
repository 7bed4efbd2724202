#include "base/pe_headers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace pelloran {
namespace {

// A hand-laid image: the offsets are written out here from the format's documentation, not taken
// from the code under test.
constexpr std::size_t kLfanew = 0x80;
constexpr std::size_t kFile = kLfanew + 4;
constexpr std::size_t kOptional = kFile + 20;
constexpr std::size_t kOptionalSize = 0xE0;
constexpr std::size_t kSections = kOptional + kOptionalSize;  // 0x178
constexpr std::size_t kExport = 0x200;
constexpr std::size_t kImport = 0x240;
constexpr std::size_t kImageSize = 0x260;

void Put16(std::vector<std::uint8_t>& image, std::size_t at, std::uint16_t value) {
  image[at] = static_cast<std::uint8_t>(value);
  image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> SampleImage() {
  std::vector<std::uint8_t> image(kImageSize, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, kLfanew);
  image[kLfanew] = 'P';
  image[kLfanew + 1] = 'E';
  Put16(image, kFile + 0, 0x014C);          // Machine
  Put16(image, kFile + 2, 2);               // NumberOfSections
  Put32(image, kFile + 4, 0x5F5E0FF1);      // TimeDateStamp
  Put32(image, kFile + 8, 0x1234);          // PointerToSymbolTable
  Put32(image, kFile + 12, 77);             // NumberOfSymbols
  Put16(image, kFile + 16, kOptionalSize);  // SizeOfOptionalHeader
  Put16(image, kFile + 18, 0x2102);         // Characteristics: DLL, 32-bit, executable
  Put16(image, kOptional + 0, 0x010B);      // Magic
  Put32(image, kOptional + 4, 0x3000);      // SizeOfCode
  Put32(image, kOptional + 20, 0x1000);     // BaseOfCode
  Put32(image, kOptional + 56, 0x9000);     // SizeOfImage
  Put32(image, kOptional + 92, 16);         // NumberOfRvaAndSizes
  Put32(image, kOptional + 96 + 0, 0x5000);       // export directory
  Put32(image, kOptional + 96 + 4, 0x80);
  Put32(image, kOptional + 96 + 8, 0x6000);       // import directory
  Put32(image, kOptional + 96 + 12, 0x3C);
  Put32(image, kOptional + 96 + 96, 0x7000);      // import address table
  Put32(image, kOptional + 96 + 100, 0x24);
  Put32(image, kOptional + 96 + 120, 0xABCD);     // the last directory (15)
  for (int i = 0; i < 2; ++i) {
    const std::size_t at = kSections + 40 * i;
    image[at] = '.';
    Put32(image, at + 8, 0x1000 + i);       // VirtualSize
    Put32(image, at + 12, 0x1000 * (i + 1));  // VirtualAddress
    Put32(image, at + 16, 0x200 * (i + 1));   // SizeOfRawData
    Put32(image, at + 20, 0x400 * (i + 1));   // PointerToRawData
    Put32(image, at + 36, 0x60000020u + i);   // Characteristics
  }
  Put32(image, kExport + 0, 0);         // Characteristics
  Put32(image, kExport + 4, 0xDEAD);    // TimeDateStamp
  Put32(image, kExport + 16, 1);        // Base
  Put32(image, kExport + 20, 9);        // NumberOfFunctions
  Put32(image, kExport + 24, 7);        // NumberOfNames
  Put32(image, kExport + 28, 0x5100);   // AddressOfFunctions
  Put32(image, kExport + 32, 0x5200);   // AddressOfNames
  Put32(image, kExport + 36, 0x5300);   // AddressOfNameOrdinals
  Put32(image, kImport + 0, 0x6100);    // OriginalFirstThunk
  Put32(image, kImport + 12, 0x6200);   // Name
  Put32(image, kImport + 16, 0x7000);   // FirstThunk
  return image;
}

TEST(PeHeaders, NamedFieldsReadFromTheirPlaces) {
  const std::vector<std::uint8_t> image = SampleImage();
  const TPeView view(image);
  ASSERT_TRUE(view.Valid());
  EXPECT_EQ(view.NtHeadersOffset(), kLfanew);
  EXPECT_EQ(view.FileHeaderOffset(), kFile);
  EXPECT_EQ(view.OptionalHeaderOffset(), kOptional);

  TPeFileHeader file;
  ASSERT_TRUE(view.ReadFileHeader(file));
  EXPECT_EQ(file.Machine, 0x014C);
  EXPECT_EQ(file.NumberOfSections, 2);
  EXPECT_EQ(file.TimeDateStamp, 0x5F5E0FF1u);
  EXPECT_EQ(file.PointerToSymbolTable, 0x1234u);
  EXPECT_EQ(file.NumberOfSymbols, 77u);
  EXPECT_EQ(file.SizeOfOptionalHeader, kOptionalSize);
  EXPECT_EQ(file.Characteristics, 0x2102);
  EXPECT_NE(file.Characteristics & pe::kFileDll, 0);

  TPeOptionalHeader optional;
  ASSERT_TRUE(view.ReadOptionalHeader(optional));
  EXPECT_EQ(optional.Magic, 0x010B);
  EXPECT_EQ(optional.SizeOfCode, 0x3000u);
  EXPECT_EQ(optional.BaseOfCode, 0x1000u);
  EXPECT_EQ(optional.SizeOfImage, 0x9000u);
  EXPECT_EQ(optional.DataDirectories[pe::kExportDirectory].VirtualAddress, 0x5000u);
  EXPECT_EQ(optional.DataDirectories[pe::kExportDirectory].Size, 0x80u);
  EXPECT_EQ(optional.DataDirectories[pe::kImportDirectory].VirtualAddress, 0x6000u);
  EXPECT_EQ(optional.DataDirectories[pe::kImportDirectory].Size, 0x3Cu);
  EXPECT_EQ(optional.DataDirectories[pe::kImportAddressTableDirectory].VirtualAddress, 0x7000u);
  EXPECT_EQ(optional.DataDirectories[pe::kImportAddressTableDirectory].Size, 0x24u);
  EXPECT_EQ(optional.DataDirectories[15].VirtualAddress, 0xABCDu);

  for (std::uint32_t i = 0; i < 2; ++i) {
    TPeSectionHeader section;
    ASSERT_TRUE(view.ReadSectionHeader(i, section));
    EXPECT_EQ(section.VirtualSize, 0x1000u + i);
    EXPECT_EQ(section.VirtualAddress, 0x1000u * (i + 1));
    EXPECT_EQ(section.SizeOfRawData, 0x200u * (i + 1));
    EXPECT_EQ(section.PointerToRawData, 0x400u * (i + 1));
    EXPECT_EQ(section.Characteristics, 0x60000020u + i);
  }

  TPeExportDirectory exports;
  ASSERT_TRUE(view.ReadExportDirectory(kExport, exports));
  EXPECT_EQ(exports.Characteristics, 0u);
  EXPECT_EQ(exports.NumberOfFunctions, 9u);
  EXPECT_EQ(exports.NumberOfNames, 7u);
  EXPECT_EQ(exports.AddressOfFunctions, 0x5100u);
  EXPECT_EQ(exports.AddressOfNames, 0x5200u);
  EXPECT_EQ(exports.AddressOfNameOrdinals, 0x5300u);

  TPeImportDescriptor import;
  ASSERT_TRUE(view.ReadImportDescriptor(kImport, import));
  EXPECT_EQ(import.Name, 0x6200u);
  EXPECT_EQ(import.FirstThunk, 0x7000u);
}

TEST(PeHeaders, TheSectionTableFollowsTheOptionalHeaderOfTheGivenSize) {
  std::vector<std::uint8_t> image = SampleImage();
  Put16(image, kFile + 16, kOptionalSize - 40);  // the table now starts 40 bytes earlier
  TPeSectionHeader section;
  ASSERT_TRUE(TPeView(image).ReadSectionHeader(1, section));
  EXPECT_EQ(section.VirtualAddress, 0x1000u);  // what was entry 0
  EXPECT_FALSE(TPeView(image).ReadSectionHeader(2, section));  // only two entries
}

// Every structure must lie wholly inside the bytes: over each cut of the image, each read
// succeeds exactly when its last byte is there, and a failed read leaves its output alone.
TEST(PeHeaders, EveryTruncatedImageReadsOnlyWhatItHolds) {
  const std::vector<std::uint8_t> image = SampleImage();
  for (std::size_t length = 0; length <= image.size(); ++length) {
    SCOPED_TRACE(length);
    const TPeView view(std::span<const std::uint8_t>(image.data(), length));
    EXPECT_EQ(view.Valid(), length >= kLfanew + 4);

    TPeFileHeader file;
    file.Machine = 0x7777;
    const bool fileRead = view.ReadFileHeader(file);
    EXPECT_EQ(fileRead, length >= kFile + 20);
    if (!fileRead) {
      EXPECT_EQ(file.Machine, 0x7777);
    }

    TPeOptionalHeader optional;
    optional.SizeOfImage = 0x7777;
    const bool optionalRead = view.ReadOptionalHeader(optional);
    EXPECT_EQ(optionalRead, length >= kOptional + 224);
    if (!optionalRead) {
      EXPECT_EQ(optional.SizeOfImage, 0x7777u);
    }

    for (std::size_t i = 0; i < 2; ++i) {
      TPeSectionHeader section;
      section.VirtualAddress = 0x7777;
      const bool sectionRead = view.ReadSectionHeader(i, section);
      EXPECT_EQ(sectionRead, length >= kSections + 40 * (i + 1));
      if (!sectionRead) {
        EXPECT_EQ(section.VirtualAddress, 0x7777u);
      }
    }

    TPeExportDirectory exports;
    EXPECT_EQ(view.ReadExportDirectory(kExport, exports), view.Valid() && length >= kExport + 40);
    TPeImportDescriptor import;
    EXPECT_EQ(view.ReadImportDescriptor(kImport, import), view.Valid() && length >= kImport + 20);
  }
}

TEST(PeHeaders, NoSignaturesNoView) {
  std::vector<std::uint8_t> noMz = SampleImage();
  noMz[1] = 'X';
  std::vector<std::uint8_t> noPe = SampleImage();
  noPe[kLfanew + 2] = 1;  // "PE\1\0"
  std::vector<std::uint8_t> lfanewOutside = SampleImage();
  Put32(lfanewOutside, 0x3C, 0xFFFFFFFE);
  std::vector<std::uint8_t> lfanewAtTheEnd = SampleImage();
  Put32(lfanewAtTheEnd, 0x3C, kImageSize - 2);
  for (const auto* image : {&noMz, &noPe, &lfanewOutside, &lfanewAtTheEnd}) {
    const TPeView view(*image);
    EXPECT_FALSE(view.Valid());
    TPeFileHeader file;
    TPeOptionalHeader optional;
    TPeSectionHeader section;
    TPeExportDirectory exports;
    TPeImportDescriptor import;
    EXPECT_FALSE(view.ReadFileHeader(file));
    EXPECT_FALSE(view.ReadOptionalHeader(optional));
    EXPECT_FALSE(view.ReadSectionHeader(0, section));
    EXPECT_FALSE(view.ReadExportDirectory(kExport, exports));
    EXPECT_FALSE(view.ReadImportDescriptor(kImport, import));
  }
}

TEST(PeHeaders, DirectoryEntriesOutsideTheImageAreNotRead) {
  const std::vector<std::uint8_t> image = SampleImage();
  const TPeView view(image);
  TPeExportDirectory exports;
  TPeImportDescriptor import;
  EXPECT_FALSE(view.ReadExportDirectory(kImageSize - 39, exports));
  EXPECT_FALSE(view.ReadExportDirectory(std::size_t(-1), exports));
  EXPECT_FALSE(view.ReadImportDescriptor(kImageSize - 19, import));
  EXPECT_TRUE(view.ReadImportDescriptor(kImageSize - 20, import));
}

}  // namespace
}  // namespace pelloran
