#pragma once
// The ELDATA container that carries a module's options and debug information. The build tool
// writes it (as the RCDATA resource "ELDATA", or, in old builds, appended to the module file); the
// crash reporter only reads it. Pure code: no platform headers, zlib only.
//
// Resource form:  u32 magic, u16 DataVersion, 8 bytes BuildTime, then the body, which is one zlib
//                 stream from DataVersion 450 on and plain bytes before.
// Appended form:  u16 DataVersion, 8 bytes BuildTime, plain body, u32 b (the byte count of these
//                 three), u32 magic: the last bytes of the file.
// Body:           the option record of DataVersion, u32 m, m bytes of debug information, then the
//                 options' added block (option_stream.h), which readers of 454 never reach.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog {

inline constexpr std::uint32_t kEldataMagic = 0x000FAB10;
inline constexpr std::size_t kEldataHeaderSize = 14;
inline constexpr std::size_t kEldataTailTrailerSize = 8;  // u32 b, u32 magic
inline constexpr std::uint16_t kFirstCompressedVersion = 450;
// Bodies that inflate beyond this are refused rather than exhausting memory: far above what any
// module carries, and still an allocation a 32-bit process can usually make.
inline constexpr std::size_t kMaxEldataBodySize = 64u * 1024u * 1024u;

using TBuildTime = std::array<std::uint8_t, 8>;

struct TEldataContents {
  std::uint16_t DataVersion = kCurrentDataVersion;
  TBuildTime BuildTime{};
  std::vector<std::uint8_t> Body;  // inflated when the container was compressed
};

// zlib over whole buffers. Inflate fails (false, `out` unspecified but never longer than `limit`)
// on damaged or truncated data, on output beyond `limit`, and when memory for the output runs out.
bool InflateWhole(std::span<const std::uint8_t> compressed, std::vector<std::uint8_t>& out,
                  std::size_t limit = kMaxEldataBodySize);
std::vector<std::uint8_t> DeflateWhole(std::span<const std::uint8_t> bytes, int level = 9);

// Body = option record, u32 m, m bytes of debug information, added block.
std::vector<std::uint8_t> BuildEldataBody(const TCrashOptionValues& options, std::span<const std::uint8_t> debugInfo);
// The same from stored bytes (an older layout's record, an empty block for a body without one).
std::vector<std::uint8_t> BuildEldataBody(std::span<const std::uint8_t> optionRecord,
                                          std::span<const std::uint8_t> debugInfo,
                                          std::span<const std::uint8_t> addedBlock);
// The part of a body after its option record: u32 m, m bytes. Nothing when it is short.
std::optional<std::vector<std::uint8_t>> ReadEldataDebugInfo(TByteReader& body);
// A body read into plain values: the option record over `values`, the debug information, then the
// added block when the body goes on.
bool ReadEldataBody(std::span<const std::uint8_t> body, std::uint16_t version, TCrashOptionValues& values,
                    std::optional<std::vector<std::uint8_t>>& debugInfo);

// The resource form. The body is compressed (zlib, level 9) when `version` >= 450.
std::vector<std::uint8_t> WriteEldataContainer(std::uint16_t version, const TBuildTime& buildTime,
                                               std::span<const std::uint8_t> body);
// The first u32 of a resource block is the magic.
bool HasEldataMagic(std::span<const std::uint8_t> resource);
// Header and body of a resource block; nothing when it is too short, has no magic, or its
// compressed body is damaged.
std::optional<TEldataContents> ReadEldataContainer(std::span<const std::uint8_t> resource);

// The appended form, ready to be added to the end of a module file (never compressed).
std::vector<std::uint8_t> WriteEldataTail(std::uint16_t version, const TBuildTime& buildTime,
                                          std::span<const std::uint8_t> body);
// The file ends with the magic.
bool HasEldataTailMagic(std::span<const std::uint8_t> fileEnd);
// The byte count b stored before the final magic (needs at least the last 8 bytes of the file).
std::optional<std::uint32_t> EldataTailLength(std::span<const std::uint8_t> fileEnd);
// Reads the appended form from the last bytes of a file (at least b + 8 of them).
std::optional<TEldataContents> ReadEldataTail(std::span<const std::uint8_t> fileEnd);

}  // namespace pelloran::crashlog
