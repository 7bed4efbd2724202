#pragma once
// The headers of a 32-bit PE image, read by name from its bytes: the DOS header's e_lfanew, the
// "PE\0\0" signature, the file header, the optional header with its data directories, the section
// table, and the export and import directory entries. Pure code over a span (a mapped image whose
// readable part the caller bounded, or a file), every field read with a bounds check.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pelloran {

namespace pe {

inline constexpr std::uint16_t kDosSignature = 0x5A4D;           // "MZ"
inline constexpr std::size_t kLfanewOffset = 60;                 // e_lfanew in the DOS header
inline constexpr std::uint32_t kNtSignature = 0x00004550;         // "PE\0\0"
inline constexpr std::size_t kFileHeaderOffset = 4;              // from the signature on
inline constexpr std::size_t kFileHeaderSize = 20;
inline constexpr std::size_t kOptionalHeaderOffset = kFileHeaderOffset + kFileHeaderSize;
inline constexpr std::size_t kSizeOfImageOffset = 56;            // inside the optional header
inline constexpr std::size_t kDataDirectoriesOffset = 96;        // inside the optional header
inline constexpr std::size_t kDataDirectoryCount = 16;
inline constexpr std::size_t kOptionalHeaderSize = kDataDirectoriesOffset + 8 * kDataDirectoryCount;  // 224
// Signature, file header and a whole 32-bit optional header.
inline constexpr std::size_t kNtHeadersSize = kOptionalHeaderOffset + kOptionalHeaderSize;  // 248
inline constexpr std::size_t kSectionHeaderSize = 40;

// Fields of the file header, from its start.
inline constexpr std::size_t kFileMachine = 0;
inline constexpr std::size_t kFileNumberOfSections = 2;
inline constexpr std::size_t kFileTimeDateStamp = 4;
inline constexpr std::size_t kFilePointerToSymbolTable = 8;
inline constexpr std::size_t kFileNumberOfSymbols = 12;
inline constexpr std::size_t kFileSizeOfOptionalHeader = 16;
inline constexpr std::uint16_t kMachineI386 = 0x014C;

// Fields of the 32-bit optional header, from its start.
inline constexpr std::uint16_t kOptionalMagic32 = 0x010B;
inline constexpr std::size_t kOptionalSizeOfInitializedData = 8;
inline constexpr std::size_t kOptionalEntryPoint = 16;
inline constexpr std::size_t kOptionalImageBase = 28;
inline constexpr std::size_t kOptionalSectionAlignment = 32;
inline constexpr std::size_t kOptionalFileAlignment = 36;
inline constexpr std::size_t kOptionalSizeOfHeaders = 60;
inline constexpr std::size_t kOptionalCheckSum = 64;
inline constexpr std::size_t kOptionalNumberOfRvaAndSizes = 92;

// Fields of a section header, from its start.
inline constexpr std::size_t kSectionName = 0;
inline constexpr std::size_t kSectionNameSize = 8;
inline constexpr std::size_t kSectionVirtualSize = 8;
inline constexpr std::size_t kSectionVirtualAddress = 12;
inline constexpr std::size_t kSectionSizeOfRawData = 16;
inline constexpr std::size_t kSectionPointerToRawData = 20;
inline constexpr std::size_t kSectionCharacteristics = 36;
inline constexpr std::size_t kExportDirectorySize = 40;
inline constexpr std::size_t kImportDescriptorSize = 20;

// Data directory indexes.
inline constexpr std::size_t kExportDirectory = 0;
inline constexpr std::size_t kImportDirectory = 1;
inline constexpr std::size_t kImportAddressTableDirectory = 12;

// File header characteristics.
inline constexpr std::uint16_t kFileDll = 0x2000;

}  // namespace pe

struct TPeFileHeader {
  std::uint16_t Machine = 0;
  std::uint16_t NumberOfSections = 0;
  std::uint32_t TimeDateStamp = 0;
  std::uint32_t PointerToSymbolTable = 0;
  std::uint32_t NumberOfSymbols = 0;
  std::uint16_t SizeOfOptionalHeader = 0;
  std::uint16_t Characteristics = 0;
};

struct TPeDataDirectory {
  std::uint32_t VirtualAddress = 0;
  std::uint32_t Size = 0;
};

// The fields of the 32-bit optional header that the program reads.
struct TPeOptionalHeader {
  std::uint16_t Magic = 0;
  std::uint32_t SizeOfCode = 0;
  std::uint32_t BaseOfCode = 0;
  std::uint32_t SizeOfImage = 0;
  std::array<TPeDataDirectory, pe::kDataDirectoryCount> DataDirectories{};
};

struct TPeSectionHeader {
  std::uint32_t VirtualSize = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t SizeOfRawData = 0;
  std::uint32_t PointerToRawData = 0;
  std::uint32_t Characteristics = 0;
};

struct TPeExportDirectory {
  std::uint32_t Characteristics = 0;
  std::uint32_t NumberOfFunctions = 0;
  std::uint32_t NumberOfNames = 0;
  std::uint32_t AddressOfFunctions = 0;
  std::uint32_t AddressOfNames = 0;
  std::uint32_t AddressOfNameOrdinals = 0;
};

struct TPeImportDescriptor {
  std::uint32_t Name = 0;
  std::uint32_t FirstThunk = 0;
};

// A view of the headers at the start of `image`. It is valid when the image starts with "MZ" and
// e_lfanew points at "PE\0\0" inside it; every read fails (returns false, leaving its output as
// it was) when the structure does not lie wholly inside the image.
class TPeView {
 public:
  explicit TPeView(std::span<const std::uint8_t> image) noexcept;

  bool Valid() const noexcept { return valid_; }
  // e_lfanew: where the signature, and after it the file header, lie.
  std::uint32_t NtHeadersOffset() const noexcept { return ntHeaders_; }
  std::size_t FileHeaderOffset() const noexcept { return std::size_t{ntHeaders_} + pe::kFileHeaderOffset; }
  std::size_t OptionalHeaderOffset() const noexcept { return std::size_t{ntHeaders_} + pe::kOptionalHeaderOffset; }

  bool ReadFileHeader(TPeFileHeader& header) const noexcept;
  // The whole 32-bit optional header with its 16 data directories must be in the image.
  bool ReadOptionalHeader(TPeOptionalHeader& header) const noexcept;
  // Entry `index` of the section table, which follows the optional header of the size the file
  // header gives.
  bool ReadSectionHeader(std::size_t index, TPeSectionHeader& section) const noexcept;
  // Directory entries at an offset into the image (an RVA, for a mapped image).
  bool ReadExportDirectory(std::size_t offset, TPeExportDirectory& directory) const noexcept;
  bool ReadImportDescriptor(std::size_t offset, TPeImportDescriptor& descriptor) const noexcept;

 private:
  std::span<const std::uint8_t> image_;
  std::uint32_t ntHeaders_ = 0;
  bool valid_ = false;
};

}  // namespace pelloran
