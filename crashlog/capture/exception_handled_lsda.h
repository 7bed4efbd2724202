#pragma once
// The exception tables GCC writes beside each function that has catch blocks or cleanups (the
// language-specific data area read by the C++ personality routine): which call sites are covered,
// by what landing pad, with which catch clauses. Read here the way the personality routine reads
// them in its search phase, so that a frame's answer can be had without unwinding anything.
// Pure logic on memory; the caller supplies the addresses the tables are relative to.

#include <cstdint>

namespace pelloran::crashlog {

// Bases of the DWARF pointer encodings (text-, data- and function-relative).
struct TEncodedBases {
  std::uintptr_t Text = 0;
  std::uintptr_t Data = 0;
  std::uintptr_t Func = 0;
};

std::uintptr_t ReadUleb128(const std::uint8_t*& p) noexcept;
std::intptr_t ReadSleb128(const std::uint8_t*& p) noexcept;
// Reads one encoded pointer (DW_EH_PE_*) at p and advances p. False for an encoding it does not
// know or the omitted encoding 0xFF.
bool ReadEncodedPointer(const std::uint8_t*& p, std::uint8_t encoding, const TEncodedBases& bases,
                        std::uintptr_t& value) noexcept;

// What a frame's table says about the instruction at `ip` (the address the personality routine
// looks up: the return address minus one for a call, the faulting instruction itself for a fault).
struct TCallSite {
  enum class TKind {
    PassesThrough,  // covered, without landing pad or with cleanups only
    Actions,        // covered, with catch clauses or a throw(...) list to try
    NotCovered,     // no entry: the C++ personality routine calls std::terminate here
    Unreadable,     // the table uses an encoding this reader does not know
  };
  TKind Kind = TKind::Unreadable;
  const std::uint8_t* FirstAction = nullptr;  // Actions: the first action record
  const std::uint8_t* TypeTable = nullptr;    // the end of the type table (entries lie before it)
  std::uint8_t TypeEncoding = 0xFF;
};

TCallSite FindCallSite(const std::uint8_t* lsda, std::uintptr_t ip, const TEncodedBases& bases) noexcept;

// How the frame treats an exception of the type that `catches` describes. `catches(entry)` is
// called with each catch clause's type-table entry (the address of a std::type_info, or 0 for
// catch (...)) and says whether the thrown object would be taken by it.
enum class TFrameVerdict {
  PassesThrough,  // no clause takes it: the search goes on to the caller
  CatchesAll,     // a catch (...) clause takes it
  CatchesType,    // a typed catch clause takes it
  Terminates,     // a throw(...) list refuses it: std::terminate
  Unreadable,
};
TFrameVerdict ActionsVerdict(const TCallSite& site, const TEncodedBases& bases,
                             bool (*catches)(std::uintptr_t typeEntry, void* context), void* context) noexcept;

}  // namespace pelloran::crashlog
