#pragma once
// A 32-bit PE image file in memory: its headers and sections, read with bounds checks, and the
// one change the build tool makes to it: a new section at the end of the image. Nothing that is
// already mapped moves, so code, data and their addresses stay as the linker left them.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelloran::eldata {

struct TPeSection {
  std::string Name;
  std::uint32_t VirtualSize = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t SizeOfRawData = 0;
  std::uint32_t PointerToRawData = 0;
  std::uint32_t Characteristics = 0;
};

inline constexpr int kResourceDirectory = 2;
inline constexpr int kSecurityDirectory = 4;
inline constexpr int kDebugDirectory = 6;
inline constexpr std::uint32_t kSectionCode = 0x00000020;
inline constexpr std::uint32_t kSectionInitializedData = 0x00000040;
inline constexpr std::uint32_t kSectionUninitializedData = 0x00000080;
inline constexpr std::uint32_t kSectionRead = 0x40000000;

class TPeImage {
 public:
  // Throws std::runtime_error for anything that is not a well-formed 32-bit PE image.
  explicit TPeImage(std::vector<std::uint8_t> bytes);

  const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }
  std::uint32_t ImageBase() const noexcept { return imageBase_; }
  std::uint32_t TimeDateStamp() const;
  const std::vector<TPeSection>& Sections() const noexcept { return sections_; }

  // The section that holds the entry point's code and starts at RVA 0x1000 (throws otherwise).
  const TPeSection& CodeSection() const;
  // The section's mapped bytes: raw data, cut to its virtual size (never past the file).
  std::span<const std::uint8_t> SectionData(const TPeSection& section) const;

  std::uint32_t DirectoryRva(int index) const;
  std::uint32_t DirectorySize(int index) const;
  void SetDirectory(int index, std::uint32_t rva, std::uint32_t size);

  // `size` bytes of the mapped image at `rva`, when one section holds them all in its raw data.
  std::span<const std::uint8_t> AtRva(std::uint32_t rva, std::uint32_t size) const;

  // The RVA the next added section will get.
  std::uint32_t NextSectionRva() const;
  // Appends a section after every mapped one; file data that followed the last section (the
  // COFF symbol table) moves behind it. Throws when the headers have no room for another entry.
  void AddSection(const std::string& name, std::span<const std::uint8_t> data, std::uint32_t characteristics);
  void RenameSection(std::size_t index, const std::string& name);
  // Drops the file data of a section that nothing refers to any more. The section keeps its
  // place in memory (zero-filled from then on, like uninitialised data); the file data behind it
  // moves up, which changes file offsets only (the debug directory's included). Throws for images
  // with certificates (file offsets the tool does not track) or sections sharing file data.
  void DropSectionData(std::size_t index);
  // Recomputes the optional header's CheckSum as the system's image loader does.
  void UpdateChecksum();

 private:
  void Parse();
  std::uint32_t U32(std::size_t offset) const;
  std::uint16_t U16(std::size_t offset) const;
  void PutU32(std::size_t offset, std::uint32_t value);
  void PutU16(std::size_t offset, std::uint16_t value);

  std::vector<std::uint8_t> bytes_;
  std::size_t fileHeader_ = 0;      // offset of IMAGE_FILE_HEADER
  std::size_t optionalHeader_ = 0;  // offset of IMAGE_OPTIONAL_HEADER32
  std::size_t sectionTable_ = 0;
  std::uint32_t imageBase_ = 0;
  std::vector<TPeSection> sections_;
};

// True when both images map the same bytes at the same place for their code sections.
bool SameCodeSection(const TPeImage& a, const TPeImage& b);

}  // namespace pelloran::eldata
