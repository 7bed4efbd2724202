#include "crashlog/capture/exception_handled_frames.h"

#include <unwind.h>

#include <atomic>

#include "runtime/fault_frame.h"
#include <cstring>

// The unwinder's own entry points (libgcc), not declared by any public header.
struct TDwarfEhBases {
  void* TextBase;
  void* DataBase;
  void* Func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, TDwarfEhBases* bases);

// The unwinder's pre-GCC-3 frame-state interface: the CFA rule and the register save rules at one
// address, as the unwinder works them out from the frame's call-frame instructions (17 DWARF
// registers on i386, plus one). Null when the address has no unwind information or its CFA is an
// expression.
struct TLegacyFrameState {
  void* Cfa;
  void* EhPtr;
  long CfaOffset;
  long ArgsSize;
  long RegOrOffset[18];
  unsigned short CfaReg;
  unsigned short ReturnAddressColumn;
  char Saved[18];
};
extern "C" TLegacyFrameState* __frame_state_for(void* pc, TLegacyFrameState* state);
extern "C" _Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class, _Unwind_Exception*,
                                                    _Unwind_Context*);

// Runs fn(arg) with a frame whose unwind information says: "my caller's registers are those of
// `context`". An unwinder walking outward from fn therefore steps from this frame straight into the
// frame `context` describes, on whatever stack that is. The frame is a signal frame: the frame
// above it is looked up at context->Eip itself, not one byte before.
//   CFA = context->Esp; every register (and the return address, column 8) is read from `context`,
//   whose address the frame keeps at [ebp + 8]. DW_OP_breg5 8; DW_OP_deref; DW_OP_plus_uconst off.
extern "C" void __cdecl pelloran_call_from_context(const CONTEXT* context, void (*fn)(void*), void* arg);
extern "C" const char pelloran_call_from_context_end[];

#define PELLORAN_CONTEXT_REGISTER(column, offset) \
  ".cfi_escape 0x10," #column ",6,0x75,0x08,0x06,0x23," #offset ",0x01\n"
asm(".text\n"
    ".globl _pelloran_call_from_context\n"
    ".def _pelloran_call_from_context; .scl 2; .type 32; .endef\n"
    "_pelloran_call_from_context:\n"
    ".cfi_startproc\n"
    ".cfi_signal_frame\n"
    "pushl %ebp\n"
    ".cfi_def_cfa_offset 8\n"
    ".cfi_offset 5, -8\n"
    "movl %esp, %ebp\n"
    // CFA = context->Esp (offset 0xC4)
    ".cfi_escape 0x0f,7,0x75,0x08,0x06,0x23,0xC4,0x01,0x06\n"
    // eax ecx edx ebx ebp esi edi eip at their CONTEXT offsets
    PELLORAN_CONTEXT_REGISTER(0, 0xB0) PELLORAN_CONTEXT_REGISTER(1, 0xAC) PELLORAN_CONTEXT_REGISTER(2, 0xA8)
    PELLORAN_CONTEXT_REGISTER(3, 0xA4) PELLORAN_CONTEXT_REGISTER(5, 0xB4) PELLORAN_CONTEXT_REGISTER(6, 0xA0)
    PELLORAN_CONTEXT_REGISTER(7, 0x9C) PELLORAN_CONTEXT_REGISTER(8, 0xB8)
    "pushl 16(%ebp)\n"
    "call *12(%ebp)\n"
    "leave\n"
    "ret\n"
    ".cfi_endproc\n"
    ".globl _pelloran_call_from_context_end\n"
    "_pelloran_call_from_context_end:\n");

static_assert(offsetof(CONTEXT, Esp) == 0xC4 && offsetof(CONTEXT, Eip) == 0xB8 && offsetof(CONTEXT, Eax) == 0xB0 &&
              offsetof(CONTEXT, Ecx) == 0xAC && offsetof(CONTEXT, Edx) == 0xA8 && offsetof(CONTEXT, Ebx) == 0xA4 &&
              offsetof(CONTEXT, Ebp) == 0xB4 && offsetof(CONTEXT, Esi) == 0xA0 && offsetof(CONTEXT, Edi) == 0x9C,
              "the unwind information of pelloran_call_from_context assumes the i386 CONTEXT layout");

namespace pelloran::crashlog {

namespace {

// DWARF register columns on i386.
enum : int { kEsp = 4, kEbp = 5, kEip = 8, kColumns = 9 };

// Register save rules of the unwinder (its REG_* values).
enum : char { kUnsaved = 0, kSavedOffset = 1, kSavedRegister = 2, kSavedValueOffset = 4, kUndefined = 6 };

struct TFdeFacts {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;
  const std::uint8_t* Lsda = nullptr;
  std::uintptr_t Personality = 0;
  bool SignalFrame = false;
};

template <typename T>
T Load(const std::uint8_t* p) noexcept {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Reads the parts of an FDE and its CIE that matter here: the range, the LSDA, the personality.
bool ReadFde(const std::uint8_t* fde, const TEncodedBases& bases, TFdeFacts& facts) noexcept {
  if (Load<std::uint32_t>(fde) == 0xFFFFFFFFu) return false;  // 64-bit DWARF: never on i386
  const std::uint8_t* p = fde + 4;
  const std::uint8_t* cie = p - Load<std::int32_t>(p);
  p += 4;
  const std::uint8_t* c = cie + 8;
  std::uint8_t version = *c++;
  const char* augmentation = reinterpret_cast<const char*>(c);
  c += std::strlen(augmentation) + 1;
  if (augmentation[0] != 0 && augmentation[0] != 'z') return false;
  ReadUleb128(c);  // code alignment
  ReadSleb128(c);  // data alignment
  if (version == 1)
    ++c;
  else
    ReadUleb128(c);  // return address column
  std::uint8_t fdeEncoding = 0, lsdaEncoding = 0xFF;
  if (augmentation[0] == 'z') {
    ReadUleb128(c);
    for (const char* a = augmentation + 1; *a; ++a) {
      if (*a == 'R') {
        fdeEncoding = *c++;
      } else if (*a == 'L') {
        lsdaEncoding = *c++;
      } else if (*a == 'P') {
        std::uint8_t encoding = *c++;
        if (!ReadEncodedPointer(c, encoding, bases, facts.Personality)) return false;
      } else if (*a == 'S') {
        facts.SignalFrame = true;
      } else {
        return false;
      }
    }
  }
  TEncodedBases fdeBases = bases;
  fdeBases.Func = 0;
  std::uintptr_t range = 0;
  if (!ReadEncodedPointer(p, fdeEncoding, fdeBases, facts.Begin) ||
      !ReadEncodedPointer(p, fdeEncoding & 0x0F, fdeBases, range))
    return false;
  facts.End = facts.Begin + range;
  if (augmentation[0] == 'z') {
    ReadUleb128(p);
    std::uintptr_t lsda = 0;
    fdeBases.Func = facts.Begin;
    if (lsdaEncoding != 0xFF && ReadEncodedPointer(p, lsdaEncoding, fdeBases, lsda))
      facts.Lsda = reinterpret_cast<const std::uint8_t*>(lsda);
  }
  return true;
}

bool FindFde(std::uintptr_t pc, TFdeFacts& facts, TEncodedBases& bases) noexcept {
  TDwarfEhBases found{};
  const void* fde = _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &found);
  if (fde == nullptr) return false;
  bases.Text = reinterpret_cast<std::uintptr_t>(found.TextBase);
  bases.Data = reinterpret_cast<std::uintptr_t>(found.DataBase);
  bases.Func = reinterpret_cast<std::uintptr_t>(found.Func);
  return ReadFde(static_cast<const std::uint8_t*>(fde), bases, facts);
}

// How to step from a frame to its caller at one lookup address, worked out once and kept.
struct TRecipe {
  enum class TStatus : std::uint8_t { NoUnwindInfo, Simple, Complex };
  TStatus Status = TStatus::NoUnwindInfo;
  std::uint8_t CfaRegister = 0;
  std::int32_t CfaOffset = 0;
  char How[kColumns] = {};
  std::int32_t Offset[kColumns] = {};
  const std::uint8_t* Lsda = nullptr;
  TEncodedBases Bases;
  bool CxxPersonality = false;
};

TRecipe MakeRecipe(std::uintptr_t lookupIp) noexcept {
  TRecipe recipe;
  TFdeFacts facts;
  if (!FindFde(lookupIp, facts, recipe.Bases)) return recipe;
  recipe.Lsda = facts.Lsda;
  recipe.CxxPersonality = facts.Personality == reinterpret_cast<std::uintptr_t>(&__gxx_personality_v0);
  recipe.Status = TRecipe::TStatus::Complex;
  if (facts.SignalFrame) return recipe;
  TLegacyFrameState state{};
  if (__frame_state_for(reinterpret_cast<void*>(lookupIp), &state) == nullptr) return recipe;
  if (state.ReturnAddressColumn != kEip || state.CfaReg >= kColumns) return recipe;
  for (int column = 0; column < kColumns; ++column) {
    char how = state.Saved[column];
    if (how != kUnsaved && how != kSavedOffset && how != kSavedRegister && how != kSavedValueOffset &&
        how != kUndefined)
      return recipe;
    if (how == kSavedRegister && (state.RegOrOffset[column] < 0 || state.RegOrOffset[column] >= kColumns))
      return recipe;
    recipe.How[column] = how;
    recipe.Offset[column] = static_cast<std::int32_t>(state.RegOrOffset[column]);
  }
  recipe.CfaRegister = static_cast<std::uint8_t>(state.CfaReg);
  recipe.CfaOffset = static_cast<std::int32_t>(state.CfaOffset);
  recipe.Status = TRecipe::TStatus::Simple;
  return recipe;
}

// Recipes by lookup address, shared by all threads: a slot is claimed (key 1) by the thread that
// fills it, then published with its key; readers never wait. A full neighbourhood just goes
// uncached.
class TRecipeCache {
 public:
  TRecipe Get(std::uintptr_t lookupIp) noexcept {
    if (lookupIp <= 1) return MakeRecipe(lookupIp);
    std::size_t start = (lookupIp * 2654435761u) >> (32 - kBits);
    for (std::size_t probe = 0; probe < kProbes; ++probe) {
      TSlot& slot = slots_[(start + probe) & (kSize - 1)];
      std::uintptr_t key = slot.Key.load(std::memory_order_acquire);
      if (key == lookupIp) return slot.Recipe;
      if (key == 0) {
        TRecipe recipe = MakeRecipe(lookupIp);
        std::uintptr_t expected = 0;
        if (slot.Key.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
          slot.Recipe = recipe;
          slot.Key.store(lookupIp, std::memory_order_release);
        }
        return recipe;
      }
    }
    return MakeRecipe(lookupIp);
  }

 private:
  static constexpr unsigned kBits = 11;
  static constexpr std::size_t kSize = std::size_t{1} << kBits;
  static constexpr std::size_t kProbes = 8;
  struct TSlot {
    std::atomic<std::uintptr_t> Key{0};
    TRecipe Recipe;
  };
  TSlot slots_[kSize];
};

TRecipeCache& Recipes() noexcept {
  static TRecipeCache* const cache = new TRecipeCache;
  return *cache;
}

TFrameInfo FrameFrom(std::uintptr_t ip, std::uintptr_t lookupIp, std::uintptr_t sp, const TRecipe& recipe) noexcept {
  TFrameInfo frame;
  frame.Ip = ip;
  frame.LookupIp = lookupIp;
  frame.StackPointer = sp;
  frame.HasUnwindInfo = recipe.Status != TRecipe::TStatus::NoUnwindInfo;
  frame.Lsda = recipe.Lsda;
  frame.Bases = recipe.Bases;
  frame.CxxPersonality = recipe.CxxPersonality;
  return frame;
}

bool Readable(std::uintptr_t address, const TWalkLimits& limits) noexcept {
  return address >= limits.StackLow && address + 4 <= limits.StackHigh && (address & 3) == 0;
}

struct TFastWalk {
  TWalkEnd End = TWalkEnd::EndOfStack;
  bool Finished = false;          // false: a frame needs the general unwinder
  std::uintptr_t LastStackPointer = 0;  // frames up to this stack pointer have been visited
};

// Steps frame by frame with the kept recipes, as long as every frame's rules are plain offsets.
TFastWalk WalkSimple(const CONTEXT& start, const TWalkLimits& limits, TFrameVisitor visit, void* context) {
  std::uintptr_t reg[kColumns] = {start.Eax, start.Ecx, start.Edx, start.Ebx, start.Esp,
                                  start.Ebp, start.Esi, start.Edi, start.Eip};
  TFastWalk walk;
  bool first = true;
  for (int depth = 0; depth < 100000; ++depth) {
    std::uintptr_t ip = reg[kEip];
    std::uintptr_t lookupIp = first ? ip : ip - 1;
    TRecipe recipe = Recipes().Get(lookupIp);
    if (recipe.Status == TRecipe::TStatus::Complex) return walk;
    if (recipe.Status == TRecipe::TStatus::NoUnwindInfo) {
      walk.Finished = true;
      walk.End = TWalkEnd::NoUnwindInfo;
      visit(FrameFrom(ip, lookupIp, reg[kEsp], recipe), context);
      return walk;
    }
    if (!visit(FrameFrom(ip, lookupIp, reg[kEsp], recipe), context)) {
      walk.Finished = true;
      walk.End = TWalkEnd::Stopped;
      return walk;
    }
    walk.LastStackPointer = reg[kEsp];
    std::uintptr_t cfa = reg[recipe.CfaRegister] + recipe.CfaOffset;
    std::uintptr_t caller[kColumns];
    for (int column = 0; column < kColumns; ++column) {
      switch (recipe.How[column]) {
        case kSavedOffset: {
          std::uintptr_t at = cfa + recipe.Offset[column];
          if (!Readable(at, limits)) {
            walk.Finished = true;
            return walk;
          }
          caller[column] = *reinterpret_cast<const std::uint32_t*>(at);
          break;
        }
        case kSavedRegister: caller[column] = reg[recipe.Offset[column]]; break;
        case kSavedValueOffset: caller[column] = cfa + recipe.Offset[column]; break;
        case kUndefined: caller[column] = 0; break;
        default: caller[column] = reg[column]; break;
      }
    }
    caller[kEsp] = cfa;
    // The outermost frame has no return address; a stack that does not grow upward is damaged.
    if (caller[kEip] == 0 || cfa <= reg[kEsp] || cfa > limits.StackHigh) {
      walk.Finished = true;
      return walk;
    }
    std::memcpy(reg, caller, sizeof reg);
    first = false;
  }
  walk.Finished = true;
  return walk;
}

struct TGeneralWalk {
  TFrameVisitor Visit;
  void* Context;
  std::uintptr_t SkipUpToStackPointer;
  bool Started = false;
  TWalkEnd End = TWalkEnd::EndOfStack;
};

_Unwind_Reason_Code VisitGeneralFrame(_Unwind_Context* unwind, void* arg) {
  auto& walk = *static_cast<TGeneralWalk*>(arg);
  int beforeInstruction = 0;
  std::uintptr_t ip = _Unwind_GetIPInfo(unwind, &beforeInstruction);
  if (!walk.Started) {
    // The frames of this walk itself, up to the frame that stands for the start context.
    if (ip >= reinterpret_cast<std::uintptr_t>(&pelloran_call_from_context) &&
        ip < reinterpret_cast<std::uintptr_t>(pelloran_call_from_context_end))
      walk.Started = true;
    return _URC_NO_REASON;
  }
  // The unwinder's CFA of a frame in a backtrace is the stack pointer of that frame at its call.
  std::uintptr_t sp = _Unwind_GetCFA(unwind);
  if (sp <= walk.SkipUpToStackPointer) return _URC_NO_REASON;  // seen by the simple walk already
  std::uintptr_t lookupIp = beforeInstruction ? ip : ip - 1;
  TRecipe recipe = Recipes().Get(lookupIp);
  if (recipe.Status == TRecipe::TStatus::NoUnwindInfo) {
    walk.End = TWalkEnd::NoUnwindInfo;
    walk.Visit(FrameFrom(ip, lookupIp, sp, recipe), walk.Context);
    return _URC_NORMAL_STOP;
  }
  if (!walk.Visit(FrameFrom(ip, lookupIp, sp, recipe), walk.Context)) {
    walk.End = TWalkEnd::Stopped;
    return _URC_NORMAL_STOP;
  }
  return _URC_NO_REASON;
}

void RunGeneralWalk(void* arg) { _Unwind_Backtrace(&VisitGeneralFrame, arg); }

}  // namespace

TWalkEnd WalkFrames(const CONTEXT& start, const TWalkLimits& limits, TFrameVisitor visit, void* context) {
  TFastWalk fast = WalkSimple(start, limits, visit, context);
  if (fast.Finished) return fast.End;
  // A frame with rules the simple walk does not follow (a CFA expression, a signal frame): the
  // general unwinder takes over from the start, passing over the frames already visited.
  TGeneralWalk general{visit, context, fast.LastStackPointer};
  pelloran_call_from_context(&start, &RunGeneralWalk, &general);
  return general.End;
}

TWalkLimits CurrentThreadStack() noexcept {
  auto* tib = CurrentThreadInformationBlock();
  // The reserved bottom of the stack (DeallocationStack, TEB offset 0xE0C on i386).
  auto deallocation = *reinterpret_cast<const std::uintptr_t*>(reinterpret_cast<const char*>(tib) + 0xE0C);
  TWalkLimits limits;
  limits.StackLow = deallocation != 0 ? deallocation : reinterpret_cast<std::uintptr_t>(tib->StackLimit);
  limits.StackHigh = reinterpret_cast<std::uintptr_t>(tib->StackBase);
  return limits;
}

bool FunctionRange(const void* address, std::uintptr_t& begin, std::uintptr_t& end) noexcept {
  TFdeFacts facts;
  TEncodedBases bases;
  if (!FindFde(reinterpret_cast<std::uintptr_t>(address), facts, bases)) return false;
  begin = facts.Begin;
  end = facts.End;
  return true;
}

}  // namespace pelloran::crashlog
