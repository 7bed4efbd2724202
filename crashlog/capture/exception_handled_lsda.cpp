#include "crashlog/capture/exception_handled_lsda.h"

#include <cstring>

namespace pelloran::crashlog {

namespace {

// DW_EH_PE_*: the low nibble is the format, the high one how the value is applied.
constexpr std::uint8_t kOmit = 0xFF;
constexpr std::uint8_t kAbsPtr = 0x00, kUleb128 = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04;
constexpr std::uint8_t kSleb128 = 0x09, kSdata2 = 0x0A, kSdata4 = 0x0B, kSdata8 = 0x0C;
constexpr std::uint8_t kPcRel = 0x10, kTextRel = 0x20, kDataRel = 0x30, kFuncRel = 0x40, kAligned = 0x50;
constexpr std::uint8_t kIndirect = 0x80;

template <typename T>
T Load(const std::uint8_t* p) noexcept {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Size of one fixed-size encoded value (type-table entries are indexed by it); 0 for variable.
std::size_t EncodedSize(std::uint8_t encoding) noexcept {
  switch (encoding & 0x0F) {
    case kAbsPtr: return sizeof(void*);
    case kUdata2: case kSdata2: return 2;
    case kUdata4: case kSdata4: return 4;
    case kUdata8: case kSdata8: return 8;
    default: return 0;
  }
}

}  // namespace

std::uintptr_t ReadUleb128(const std::uint8_t*& p) noexcept {
  std::uintptr_t result = 0;
  unsigned shift = 0;
  std::uint8_t byte;
  do {
    byte = *p++;
    if (shift < sizeof(result) * 8) result |= static_cast<std::uintptr_t>(byte & 0x7F) << shift;
    shift += 7;
  } while (byte & 0x80);
  return result;
}

std::intptr_t ReadSleb128(const std::uint8_t*& p) noexcept {
  std::uintptr_t result = 0;
  unsigned shift = 0;
  std::uint8_t byte;
  do {
    byte = *p++;
    if (shift < sizeof(result) * 8) result |= static_cast<std::uintptr_t>(byte & 0x7F) << shift;
    shift += 7;
  } while (byte & 0x80);
  if (shift < sizeof(result) * 8 && (byte & 0x40)) result |= ~std::uintptr_t{0} << shift;
  return static_cast<std::intptr_t>(result);
}

bool ReadEncodedPointer(const std::uint8_t*& p, std::uint8_t encoding, const TEncodedBases& bases,
                        std::uintptr_t& value) noexcept {
  if (encoding == kOmit) return false;
  const std::uint8_t* field = p;
  if ((encoding & 0x70) == kAligned) {
    auto aligned = (reinterpret_cast<std::uintptr_t>(p) + sizeof(void*) - 1) & ~(sizeof(void*) - 1);
    p = reinterpret_cast<const std::uint8_t*>(aligned);
    value = Load<std::uintptr_t>(p);
    p += sizeof(void*);
    return true;
  }
  std::uintptr_t raw;
  switch (encoding & 0x0F) {
    case kAbsPtr: raw = Load<std::uintptr_t>(p); p += sizeof(void*); break;
    case kUleb128: raw = ReadUleb128(p); break;
    case kSleb128: raw = static_cast<std::uintptr_t>(ReadSleb128(p)); break;
    case kUdata2: raw = Load<std::uint16_t>(p); p += 2; break;
    case kUdata4: raw = Load<std::uint32_t>(p); p += 4; break;
    case kUdata8: raw = static_cast<std::uintptr_t>(Load<std::uint64_t>(p)); p += 8; break;
    case kSdata2: raw = static_cast<std::uintptr_t>(Load<std::int16_t>(p)); p += 2; break;
    case kSdata4: raw = static_cast<std::uintptr_t>(Load<std::int32_t>(p)); p += 4; break;
    case kSdata8: raw = static_cast<std::uintptr_t>(Load<std::int64_t>(p)); p += 8; break;
    default: return false;
  }
  if (raw != 0) {
    switch (encoding & 0x70) {
      case 0: break;
      case kPcRel: raw += reinterpret_cast<std::uintptr_t>(field); break;
      case kTextRel: raw += bases.Text; break;
      case kDataRel: raw += bases.Data; break;
      case kFuncRel: raw += bases.Func; break;
      default: return false;
    }
    if (encoding & kIndirect) raw = *reinterpret_cast<const std::uintptr_t*>(raw);
  }
  value = raw;
  return true;
}

TCallSite FindCallSite(const std::uint8_t* lsda, std::uintptr_t ip, const TEncodedBases& bases) noexcept {
  TCallSite site;
  const std::uint8_t* p = lsda;
  std::uintptr_t landingBase = bases.Func;
  std::uint8_t lpStartEncoding = *p++;
  if (lpStartEncoding != kOmit && !ReadEncodedPointer(p, lpStartEncoding, bases, landingBase)) return site;
  site.TypeEncoding = *p++;
  if (site.TypeEncoding != kOmit) {
    std::uintptr_t offset = ReadUleb128(p);
    site.TypeTable = p + offset;
  }
  std::uint8_t callSiteEncoding = *p++;
  std::uintptr_t tableLength = ReadUleb128(p);
  const std::uint8_t* actionTable = p + tableLength;
  const TEncodedBases noBase{};
  while (p < actionTable) {
    std::uintptr_t start, length, landingPad;
    if (!ReadEncodedPointer(p, callSiteEncoding, noBase, start) ||
        !ReadEncodedPointer(p, callSiteEncoding, noBase, length) ||
        !ReadEncodedPointer(p, callSiteEncoding, noBase, landingPad))
      return site;
    std::uintptr_t action = ReadUleb128(p);
    // The table is sorted by start address.
    if (ip < bases.Func + start) break;
    if (ip < bases.Func + start + length) {
      if (landingPad == 0 || action == 0) {
        site.Kind = TCallSite::TKind::PassesThrough;
      } else {
        site.Kind = TCallSite::TKind::Actions;
        site.FirstAction = actionTable + action - 1;
      }
      return site;
    }
  }
  site.Kind = TCallSite::TKind::NotCovered;
  return site;
}

TFrameVerdict ActionsVerdict(const TCallSite& site, const TEncodedBases& bases,
                             bool (*catches)(std::uintptr_t typeEntry, void* context), void* context) noexcept {
  std::size_t entrySize = EncodedSize(site.TypeEncoding);
  auto typeEntry = [&](std::intptr_t index, std::uintptr_t& entry) {
    if (site.TypeTable == nullptr || entrySize == 0) return false;
    const std::uint8_t* at = site.TypeTable - static_cast<std::size_t>(index) * entrySize;
    return ReadEncodedPointer(at, site.TypeEncoding, bases, entry);
  };
  const std::uint8_t* record = site.FirstAction;
  for (int guard = 0; record != nullptr && guard < 256; ++guard) {
    const std::uint8_t* p = record;
    std::intptr_t filter = ReadSleb128(p);
    const std::uint8_t* displacementAt = p;
    std::intptr_t displacement = ReadSleb128(p);
    if (filter > 0) {
      std::uintptr_t entry;
      if (!typeEntry(filter, entry)) return TFrameVerdict::Unreadable;
      if (entry == 0) return TFrameVerdict::CatchesAll;
      if (catches(entry, context)) return TFrameVerdict::CatchesType;
    } else if (filter < 0) {
      // A throw(...) list on the function: the allowed types (indices, ended by 0) lie after the
      // type table. A type outside it ends in std::unexpected, that is std::terminate.
      if (site.TypeTable == nullptr) return TFrameVerdict::Unreadable;
      const std::uint8_t* list = site.TypeTable + (-filter - 1);
      bool allowed = false;
      for (std::uintptr_t index; !allowed && (index = ReadUleb128(list)) != 0;) {
        std::uintptr_t entry;
        if (!typeEntry(static_cast<std::intptr_t>(index), entry)) return TFrameVerdict::Unreadable;
        allowed = entry != 0 && catches(entry, context);
      }
      if (!allowed) return TFrameVerdict::Terminates;
    }
    record = displacement == 0 ? nullptr : displacementAt + displacement;
  }
  return TFrameVerdict::PassesThrough;
}

}  // namespace pelloran::crashlog
