#include "tools/eldata/pe_image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/pe_headers.h"

namespace pelloran::eldata {

using namespace pelloran::pe;

namespace {

constexpr std::size_t kOptionalHeaderMinimum = kDataDirectoriesOffset;  // up to NumberOfRvaAndSizes

std::uint32_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  if (alignment == 0) return static_cast<std::uint32_t>(value);
  const std::uint64_t aligned = (value + alignment - 1) / alignment * alignment;
  if (aligned > 0xFFFFFFFFu) throw std::runtime_error("image grows beyond 4 GB");
  return static_cast<std::uint32_t>(aligned);
}

[[noreturn]] void Malformed(const char* what) { throw std::runtime_error(std::string("not a usable PE image: ") + what); }

}  // namespace

TPeImage::TPeImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { Parse(); }

std::uint32_t TPeImage::U32(std::size_t offset) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 4) Malformed("header beyond the end of the file");
  return bytes_[offset] | (bytes_[offset + 1] << 8) | (bytes_[offset + 2] << 16) |
         (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
}

std::uint16_t TPeImage::U16(std::size_t offset) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 2) Malformed("header beyond the end of the file");
  return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

void TPeImage::PutU32(std::size_t offset, std::uint32_t value) {
  U32(offset);
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void TPeImage::PutU16(std::size_t offset, std::uint16_t value) {
  U16(offset);
  bytes_[offset] = static_cast<std::uint8_t>(value);
  bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void TPeImage::Parse() {
  if (U16(0) != kDosSignature) Malformed("no MZ header");
  const std::size_t pe = U32(kLfanewOffset);
  if (U32(pe) != kNtSignature) Malformed("no PE signature");
  fileHeader_ = pe + kFileHeaderOffset;
  if (U16(fileHeader_ + kFileMachine) != kMachineI386) Malformed("not an i386 image");
  optionalHeader_ = fileHeader_ + kFileHeaderSize;
  const std::uint16_t optionalSize = U16(fileHeader_ + kFileSizeOfOptionalHeader);
  if (U16(optionalHeader_) != kOptionalMagic32 || optionalSize < kOptionalHeaderMinimum) Malformed("no 32-bit optional header");
  const std::uint32_t directories = U32(optionalHeader_ + kOptionalNumberOfRvaAndSizes);
  if (directories < kDataDirectoryCount || kOptionalHeaderSize > optionalSize) Malformed("short data directory");
  imageBase_ = U32(optionalHeader_ + kOptionalImageBase);
  sectionTable_ = optionalHeader_ + optionalSize;

  const std::uint16_t count = U16(fileHeader_ + kFileNumberOfSections);
  const std::uint32_t symbols = U32(fileHeader_ + kFilePointerToSymbolTable);
  const std::uint32_t symbolCount = U32(fileHeader_ + kFileNumberOfSymbols);
  const std::uint64_t stringTable = symbols ? std::uint64_t{symbols} + std::uint64_t{symbolCount} * 18 : 0;
  sections_.clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t at = sectionTable_ + i * kSectionHeaderSize;
    U32(at + kSectionCharacteristics);
    TPeSection s;
    s.Name.assign(reinterpret_cast<const char*>(&bytes_[at]), strnlen(reinterpret_cast<const char*>(&bytes_[at]), kSectionNameSize));
    // Long names ("/4") point into the COFF string table.
    if (s.Name.size() > 1 && s.Name[0] == '/' && stringTable) {
      const std::uint64_t nameAt = stringTable + std::strtoul(s.Name.c_str() + 1, nullptr, 10);
      if (nameAt < bytes_.size())
        s.Name.assign(reinterpret_cast<const char*>(&bytes_[nameAt]),
                      strnlen(reinterpret_cast<const char*>(&bytes_[nameAt]), bytes_.size() - nameAt));
    }
    s.VirtualSize = U32(at + kSectionVirtualSize);
    s.VirtualAddress = U32(at + kSectionVirtualAddress);
    s.SizeOfRawData = U32(at + kSectionSizeOfRawData);
    s.PointerToRawData = U32(at + kSectionPointerToRawData);
    s.Characteristics = U32(at + kSectionCharacteristics);
    if (s.SizeOfRawData && (s.PointerToRawData > bytes_.size() || bytes_.size() - s.PointerToRawData < s.SizeOfRawData))
      Malformed("section data beyond the end of the file");
    sections_.push_back(std::move(s));
  }
}

std::uint32_t TPeImage::TimeDateStamp() const { return U32(fileHeader_ + kFileTimeDateStamp); }

const TPeSection& TPeImage::CodeSection() const {
  const std::uint32_t entry = U32(optionalHeader_ + kOptionalEntryPoint);
  for (const auto& s : sections_) {
    if (s.VirtualAddress != 0x1000) continue;
    if (!(s.Characteristics & kSectionCode)) break;
    if (entry != 0 && (entry < s.VirtualAddress || entry - s.VirtualAddress >= s.VirtualSize))
      throw std::runtime_error("the entry point lies outside the code section at 0x1000");
    return s;
  }
  throw std::runtime_error("the image has no code section at RVA 0x1000");
}

std::span<const std::uint8_t> TPeImage::SectionData(const TPeSection& s) const {
  const std::uint32_t size = std::min(s.VirtualSize, s.SizeOfRawData);
  return {bytes_.data() + s.PointerToRawData, size};
}

std::uint32_t TPeImage::DirectoryRva(int index) const { return U32(optionalHeader_ + kDataDirectoriesOffset + 8 * index); }
std::uint32_t TPeImage::DirectorySize(int index) const { return U32(optionalHeader_ + kDataDirectoriesOffset + 8 * index + 4); }
void TPeImage::SetDirectory(int index, std::uint32_t rva, std::uint32_t size) {
  PutU32(optionalHeader_ + kDataDirectoriesOffset + 8 * index, rva);
  PutU32(optionalHeader_ + kDataDirectoriesOffset + 8 * index + 4, size);
}

std::span<const std::uint8_t> TPeImage::AtRva(std::uint32_t rva, std::uint32_t size) const {
  for (const auto& s : sections_) {
    const auto data = SectionData(s);
    if (rva >= s.VirtualAddress && rva - s.VirtualAddress <= data.size() && data.size() - (rva - s.VirtualAddress) >= size)
      return data.subspan(rva - s.VirtualAddress, size);
  }
  return {};
}

std::uint32_t TPeImage::NextSectionRva() const {
  const std::uint32_t alignment = U32(optionalHeader_ + kOptionalSectionAlignment);
  std::uint64_t end = AlignUp(U32(optionalHeader_ + kOptionalSizeOfHeaders), alignment);
  for (const auto& s : sections_)
    end = std::max<std::uint64_t>(end, std::uint64_t{s.VirtualAddress} + std::max(s.VirtualSize, s.SizeOfRawData));
  return AlignUp(end, alignment);
}

void TPeImage::AddSection(const std::string& name, std::span<const std::uint8_t> data, std::uint32_t characteristics) {
  if (name.size() > 8) throw std::invalid_argument("section names have at most 8 characters");
  if (DirectorySize(kSecurityDirectory) != 0) throw std::runtime_error("a signed image cannot take another section");
  const std::uint32_t fileAlignment = U32(optionalHeader_ + kOptionalFileAlignment);
  const std::uint32_t sectionAlignment = U32(optionalHeader_ + kOptionalSectionAlignment);
  const std::uint32_t sizeOfHeaders = U32(optionalHeader_ + kOptionalSizeOfHeaders);

  std::uint64_t firstRaw = sizeOfHeaders, lastRawEnd = sizeOfHeaders;
  for (const auto& s : sections_) {
    if (!s.SizeOfRawData) continue;
    firstRaw = std::min<std::uint64_t>(firstRaw, s.PointerToRawData);
    lastRawEnd = std::max<std::uint64_t>(lastRawEnd, std::uint64_t{s.PointerToRawData} + s.SizeOfRawData);
  }
  const std::size_t header = sectionTable_ + sections_.size() * kSectionHeaderSize;
  if (header + kSectionHeaderSize > std::min<std::uint64_t>(firstRaw, sizeOfHeaders))
    throw std::runtime_error("no room for another section header");
  for (std::size_t i = header; i < header + kSectionHeaderSize; ++i)
    if (bytes_[i] != 0) throw std::runtime_error("the bytes after the section table are in use");

  const std::uint32_t rva = NextSectionRva();
  const std::uint32_t rawPointer = AlignUp(lastRawEnd, fileAlignment);
  const std::uint32_t rawSize = AlignUp(data.size(), fileAlignment);
  std::vector<std::uint8_t> trailing(bytes_.begin() + static_cast<std::ptrdiff_t>(lastRawEnd), bytes_.end());
  bytes_.resize(rawPointer, 0);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  bytes_.resize(std::size_t{rawPointer} + rawSize, 0);
  bytes_.insert(bytes_.end(), trailing.begin(), trailing.end());
  const std::uint32_t symbols = U32(fileHeader_ + kFilePointerToSymbolTable);
  if (symbols >= lastRawEnd) PutU32(fileHeader_ + kFilePointerToSymbolTable, symbols + static_cast<std::uint32_t>(rawPointer + rawSize - lastRawEnd));

  std::memcpy(&bytes_[header], name.data(), name.size());
  PutU32(header + kSectionVirtualSize, static_cast<std::uint32_t>(data.size()));
  PutU32(header + kSectionVirtualAddress, rva);
  PutU32(header + kSectionSizeOfRawData, rawSize);
  PutU32(header + kSectionPointerToRawData, rawPointer);
  PutU32(header + kSectionCharacteristics, characteristics);
  PutU16(fileHeader_ + kFileNumberOfSections, static_cast<std::uint16_t>(sections_.size() + 1));
  PutU32(optionalHeader_ + kSizeOfImageOffset, AlignUp(std::uint64_t{rva} + data.size(), sectionAlignment));
  if (characteristics & kSectionInitializedData)
    PutU32(optionalHeader_ + kOptionalSizeOfInitializedData, U32(optionalHeader_ + kOptionalSizeOfInitializedData) + rawSize);
  Parse();
}

void TPeImage::RenameSection(std::size_t index, const std::string& name) {
  if (name.size() > 8 || index >= sections_.size()) throw std::invalid_argument("bad section rename");
  const std::size_t at = sectionTable_ + index * kSectionHeaderSize;
  std::memset(&bytes_[at], 0, kSectionNameSize);
  std::memcpy(&bytes_[at], name.data(), name.size());
  Parse();
}

void TPeImage::DropSectionData(std::size_t index) {
  if (index >= sections_.size()) throw std::invalid_argument("no such section");
  const TPeSection dropped = sections_[index];
  if (!dropped.SizeOfRawData) return;
  if (DirectorySize(kSecurityDirectory) != 0)
    throw std::runtime_error("the image has file offsets outside its section table");
  // The debug directory's entries (a build id's CodeView record) name their data by file offset
  // as well (PointerToRawData, the last field of each 28-byte entry).
  constexpr std::uint32_t kDebugEntrySize = 28;
  const std::uint32_t debugSize = DirectorySize(kDebugDirectory);
  std::vector<std::size_t> debugPointers;
  if (debugSize != 0) {
    const std::span<const std::uint8_t> entries = AtRva(DirectoryRva(kDebugDirectory), debugSize);
    if (entries.empty() || debugSize % kDebugEntrySize != 0)
      throw std::runtime_error("the image's debug directory lies outside its sections");
    const auto first = static_cast<std::size_t>(entries.data() - bytes_.data());
    for (std::uint32_t at = 0; at < debugSize; at += kDebugEntrySize) debugPointers.push_back(first + at + 24);
  }
  const std::uint32_t fileAlignment = U32(optionalHeader_ + kOptionalFileAlignment);
  const std::uint32_t begin = dropped.PointerToRawData, size = dropped.SizeOfRawData;
  if (fileAlignment && size % fileAlignment) throw std::runtime_error("section data not file-aligned");
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const auto& s = sections_[i];
    if (i != index && s.SizeOfRawData && s.PointerToRawData < begin + size && begin < s.PointerToRawData + s.SizeOfRawData)
      throw std::runtime_error("sections share file data");
  }
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const std::size_t at = sectionTable_ + i * kSectionHeaderSize;
    if (i != index && sections_[i].SizeOfRawData && sections_[i].PointerToRawData >= begin)
      PutU32(at + kSectionPointerToRawData, sections_[i].PointerToRawData - size);
  }
  const std::uint32_t symbols = U32(fileHeader_ + kFilePointerToSymbolTable);
  if (symbols >= begin + size) PutU32(fileHeader_ + kFilePointerToSymbolTable, symbols - size);
  for (std::size_t pointer : debugPointers) {
    const std::uint32_t data = U32(pointer);
    if ((data >= begin && data < begin + size) || (pointer >= begin && pointer < begin + size))
      throw std::runtime_error("debug data lies in a dropped section");
    if (data >= begin + size) PutU32(pointer, data - size);  // the bytes move below, after this
  }
  const std::size_t header = sectionTable_ + index * kSectionHeaderSize;
  PutU32(header + kSectionSizeOfRawData, 0);
  PutU32(header + kSectionPointerToRawData, 0);
  PutU32(header + kSectionCharacteristics, (dropped.Characteristics & ~kSectionInitializedData) | kSectionUninitializedData);
  const std::uint32_t initialized = U32(optionalHeader_ + kOptionalSizeOfInitializedData);
  PutU32(optionalHeader_ + kOptionalSizeOfInitializedData, initialized >= size ? initialized - size : 0);
  bytes_.erase(bytes_.begin() + begin, bytes_.begin() + begin + size);
  Parse();
}

void TPeImage::UpdateChecksum() {
  const std::size_t field = optionalHeader_ + kOptionalCheckSum;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < bytes_.size(); i += 2) {
    if (i == field || i == field + 2) continue;
    std::uint32_t word = bytes_[i];
    if (i + 1 < bytes_.size()) word |= bytes_[i + 1] << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  PutU32(field, static_cast<std::uint32_t>(sum + bytes_.size()));
}

bool SameCodeSection(const TPeImage& a, const TPeImage& b) {
  const auto& ca = a.CodeSection();
  const auto& cb = b.CodeSection();
  const auto da = a.SectionData(ca);
  const auto db = b.SectionData(cb);
  return a.ImageBase() == b.ImageBase() && ca.VirtualAddress == cb.VirtualAddress &&
         ca.VirtualSize == cb.VirtualSize && ca.Characteristics == cb.Characteristics &&
         std::equal(da.begin(), da.end(), db.begin(), db.end());
}

}  // namespace pelloran::eldata
