#include "base/pe_headers.h"

#include "base/byte_stream_le.h"

namespace pelloran {

namespace {

// A reader over exactly `size` bytes at `offset`, or a failed one when they are not all there.
TByteReader Structure(std::span<const std::uint8_t> image, std::size_t offset, std::size_t size) {
  if (offset > image.size() || image.size() - offset < size) {
    TByteReader failed;
    failed.Skip(1);
    return failed;
  }
  return TByteReader(image.subspan(offset, size));
}

}  // namespace

TPeView::TPeView(std::span<const std::uint8_t> image) noexcept : image_(image) {
  TByteReader dos(image);
  std::uint16_t mz = 0;
  std::uint32_t lfanew = 0, signature = 0;
  if (!dos.ReadU16(mz) || mz != pe::kDosSignature) return;
  TByteReader lfanewField = Structure(image, pe::kLfanewOffset, 4);
  if (!lfanewField.ReadU32(lfanew)) return;
  TByteReader nt = Structure(image, lfanew, 4);
  if (!nt.ReadU32(signature) || signature != pe::kNtSignature) return;
  ntHeaders_ = lfanew;
  valid_ = true;
}

bool TPeView::ReadFileHeader(TPeFileHeader& header) const noexcept {
  if (!valid_) return false;
  TByteReader in = Structure(image_, FileHeaderOffset(), pe::kFileHeaderSize);
  TPeFileHeader read;
  in.ReadU16(read.Machine);
  in.ReadU16(read.NumberOfSections);
  in.ReadU32(read.TimeDateStamp);
  in.ReadU32(read.PointerToSymbolTable);
  in.ReadU32(read.NumberOfSymbols);
  in.ReadU16(read.SizeOfOptionalHeader);
  in.ReadU16(read.Characteristics);
  if (!in.Ok()) return false;
  header = read;
  return true;
}

bool TPeView::ReadOptionalHeader(TPeOptionalHeader& header) const noexcept {
  if (!valid_) return false;
  TByteReader in = Structure(image_, OptionalHeaderOffset(), pe::kOptionalHeaderSize);
  TPeOptionalHeader read;
  in.ReadU16(read.Magic);
  in.Skip(2);  // linker version
  in.ReadU32(read.SizeOfCode);
  in.Skip(12);  // initialised and uninitialised data sizes, entry point
  in.ReadU32(read.BaseOfCode);
  in.Skip(pe::kSizeOfImageOffset - 24);
  in.ReadU32(read.SizeOfImage);
  in.Skip(pe::kDataDirectoriesOffset - pe::kSizeOfImageOffset - 4);
  for (auto& directory : read.DataDirectories) {
    in.ReadU32(directory.VirtualAddress);
    in.ReadU32(directory.Size);
  }
  if (!in.Ok()) return false;
  header = read;
  return true;
}

bool TPeView::ReadSectionHeader(std::size_t index, TPeSectionHeader& section) const noexcept {
  TPeFileHeader file;
  if (!ReadFileHeader(file) || index >= file.NumberOfSections) return false;
  const std::size_t offset = OptionalHeaderOffset() + file.SizeOfOptionalHeader + pe::kSectionHeaderSize * index;
  TByteReader in = Structure(image_, offset, pe::kSectionHeaderSize);
  TPeSectionHeader read;
  in.Skip(8);  // name
  in.ReadU32(read.VirtualSize);
  in.ReadU32(read.VirtualAddress);
  in.ReadU32(read.SizeOfRawData);
  in.ReadU32(read.PointerToRawData);
  in.Skip(12);  // relocation and line-number pointers and counts
  in.ReadU32(read.Characteristics);
  if (!in.Ok()) return false;
  section = read;
  return true;
}

bool TPeView::ReadExportDirectory(std::size_t offset, TPeExportDirectory& directory) const noexcept {
  if (!valid_) return false;
  TByteReader in = Structure(image_, offset, pe::kExportDirectorySize);
  TPeExportDirectory read;
  in.ReadU32(read.Characteristics);
  in.Skip(16);  // time stamp, version, name, ordinal base
  in.ReadU32(read.NumberOfFunctions);
  in.ReadU32(read.NumberOfNames);
  in.ReadU32(read.AddressOfFunctions);
  in.ReadU32(read.AddressOfNames);
  in.ReadU32(read.AddressOfNameOrdinals);
  if (!in.Ok()) return false;
  directory = read;
  return true;
}

bool TPeView::ReadImportDescriptor(std::size_t offset, TPeImportDescriptor& descriptor) const noexcept {
  if (!valid_) return false;
  TByteReader in = Structure(image_, offset, pe::kImportDescriptorSize);
  TPeImportDescriptor read;
  in.Skip(12);  // original first thunk, time stamp, forwarder chain
  in.ReadU32(read.Name);
  in.ReadU32(read.FirstThunk);
  if (!in.Ok()) return false;
  descriptor = read;
  return true;
}

}  // namespace pelloran
