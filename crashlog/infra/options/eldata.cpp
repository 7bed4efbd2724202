#include "crashlog/infra/options/eldata.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace pelloran::crashlog {

namespace {

bool ReadBuildTime(TByteReader& in, TBuildTime& buildTime) {
  std::span<const std::uint8_t> bytes;
  if (!in.ReadBytes(buildTime.size(), bytes)) return false;
  std::copy(bytes.begin(), bytes.end(), buildTime.begin());
  return true;
}

}  // namespace

bool InflateWhole(std::span<const std::uint8_t> compressed, std::vector<std::uint8_t>& out,
                  std::size_t limit) {
  out.clear();
  z_stream z{};
  if (compressed.size() > std::numeric_limits<uInt>::max() || inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(compressed.data());
  z.avail_in = static_cast<uInt>(compressed.size());
  // Start near the compressed size (rounded to 256), never above the limit, and grow
  // geometrically: a small stream that inflates to megabytes must not cost a reallocation per
  // compressed-size step.
  const std::size_t maxStep = std::numeric_limits<uInt>::max();
  std::size_t capacity = std::min(limit, std::max<std::size_t>(256, (compressed.size() + 255) / 256 * 256));
  Bytef spare = 0;  // where zlib may point when there is no room at all
  int status = Z_OK;
  try {
    while (status == Z_OK) {
      if (out.size() == capacity && capacity < limit)
        capacity = capacity > limit / 2 ? limit : std::max<std::size_t>(256, capacity * 2);
      const std::size_t produced = out.size();
      out.resize(capacity);
      const std::size_t room = std::min(capacity - produced, maxStep);
      z.next_out = room ? out.data() + produced : &spare;
      z.avail_out = static_cast<uInt>(room);
      // With no room left at the limit, inflate can still finish a stream whose output fitted
      // exactly; anything more it has to give is refused as Z_BUF_ERROR.
      status = inflate(&z, Z_NO_FLUSH);
      out.resize(produced + room - z.avail_out);
    }
  } catch (const std::bad_alloc&) {
    // A damaged body can ask for more than a crowded 32-bit process has: the container is simply
    // unusable, and the reporter must not fail with an exception of its own.
    status = Z_MEM_ERROR;
    std::vector<std::uint8_t>().swap(out);
  }
  inflateEnd(&z);
  return status == Z_STREAM_END;
}

std::vector<std::uint8_t> DeflateWhole(std::span<const std::uint8_t> bytes, int level) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), level) != Z_OK) return {};
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> BuildEldataBody(std::span<const std::uint8_t> optionRecord,
                                          std::span<const std::uint8_t> debugInfo,
                                          std::span<const std::uint8_t> addedBlock) {
  TByteWriter out;
  out.Bytes(optionRecord);
  out.U32(static_cast<std::uint32_t>(debugInfo.size()));
  out.Bytes(debugInfo);
  out.Bytes(addedBlock);
  return out.Take();
}

std::vector<std::uint8_t> BuildEldataBody(const TCrashOptionValues& options, std::span<const std::uint8_t> debugInfo) {
  TByteWriter record, block;
  SaveOptionRecord(options, record);
  SaveAddedBlock(options, block);
  return BuildEldataBody(record.Data(), debugInfo, block.Data());
}

std::optional<std::vector<std::uint8_t>> ReadEldataDebugInfo(TByteReader& body) {
  std::uint32_t size;
  std::vector<std::uint8_t> debugInfo;
  if (!body.ReadU32(size) || !body.ReadBytes(size, debugInfo)) return std::nullopt;
  return debugInfo;
}

bool ReadEldataBody(std::span<const std::uint8_t> body, std::uint16_t version, TCrashOptionValues& values,
                    std::optional<std::vector<std::uint8_t>>& debugInfo) {
  TByteReader in(body);
  const bool optionsComplete = LoadOptionRecord(in, version, values);
  debugInfo = ReadEldataDebugInfo(in);
  // A body written before the block existed ends with the debug information.
  const bool blockComplete = !debugInfo || in.Remaining() == 0 || LoadAddedBlock(in, values);
  return optionsComplete && debugInfo.has_value() && blockComplete;
}

std::vector<std::uint8_t> WriteEldataContainer(std::uint16_t version, const TBuildTime& buildTime,
                                               std::span<const std::uint8_t> body) {
  TByteWriter out;
  out.U32(kEldataMagic);
  out.U16(version);
  out.Bytes(buildTime);
  if (version >= kFirstCompressedVersion)
    out.Bytes(DeflateWhole(body, 9));
  else
    out.Bytes(body);
  return out.Take();
}

bool HasEldataMagic(std::span<const std::uint8_t> resource) {
  TByteReader in(resource);
  std::uint32_t magic;
  return in.ReadU32(magic) && magic == kEldataMagic;
}

std::optional<TEldataContents> ReadEldataContainer(std::span<const std::uint8_t> resource) {
  TByteReader in(resource);
  std::uint32_t magic;
  TEldataContents contents;
  if (!in.ReadU32(magic) || magic != kEldataMagic || !in.ReadU16(contents.DataVersion) ||
      !ReadBuildTime(in, contents.BuildTime))
    return std::nullopt;
  if (contents.DataVersion >= kFirstCompressedVersion) {
    if (!InflateWhole(in.Rest(), contents.Body)) return std::nullopt;
  } else {
    const auto rest = in.Rest();
    contents.Body.assign(rest.begin(), rest.end());
  }
  return contents;
}

std::vector<std::uint8_t> WriteEldataTail(std::uint16_t version, const TBuildTime& buildTime,
                                          std::span<const std::uint8_t> body) {
  TByteWriter out;
  out.U16(version);
  out.Bytes(buildTime);
  out.Bytes(body);
  out.U32(static_cast<std::uint32_t>(out.Size()));
  out.U32(kEldataMagic);
  return out.Take();
}

bool HasEldataTailMagic(std::span<const std::uint8_t> fileEnd) {
  if (fileEnd.size() < 4) return false;
  TByteReader in(fileEnd.last(4));
  std::uint32_t magic;
  return in.ReadU32(magic) && magic == kEldataMagic;
}

std::optional<std::uint32_t> EldataTailLength(std::span<const std::uint8_t> fileEnd) {
  if (fileEnd.size() < kEldataTailTrailerSize || !HasEldataTailMagic(fileEnd)) return std::nullopt;
  TByteReader in(fileEnd.last(kEldataTailTrailerSize));
  std::uint32_t length;
  if (!in.ReadU32(length)) return std::nullopt;
  return length;
}

std::optional<TEldataContents> ReadEldataTail(std::span<const std::uint8_t> fileEnd) {
  const auto length = EldataTailLength(fileEnd);
  if (!length || *length > fileEnd.size() - kEldataTailTrailerSize) return std::nullopt;
  const auto block = fileEnd.subspan(fileEnd.size() - kEldataTailTrailerSize - *length, *length);
  TByteReader in(block);
  TEldataContents contents;
  if (!in.ReadU16(contents.DataVersion) || !ReadBuildTime(in, contents.BuildTime)) return std::nullopt;
  const auto rest = in.Rest();
  contents.Body.assign(rest.begin(), rest.end());
  return contents;
}

}  // namespace pelloran::crashlog
