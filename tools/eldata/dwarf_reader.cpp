#include "tools/eldata/dwarf_reader.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include <llvm/DebugInfo/DWARF/DWARFContext.h>
#include <llvm/Object/ObjectFile.h>
#include <llvm/Support/Error.h>

namespace pelloran::eldata {

namespace {

using llvm::DWARFDie;
namespace dwarf = llvm::dwarf;

class TDwarfCollector {
 public:
  TDwarfCollector(TDwarfFacts& facts, std::uint64_t codeBegin, std::uint64_t codeEnd)
      : facts_(facts), codeBegin_(codeBegin), codeEnd_(codeEnd) {}

  void CollectLines(llvm::DWARFContext& context, llvm::DWARFUnit& unit) {
    const auto* table = context.getLineTableForUnit(&unit);
    if (!table) return;
    const std::string compDir = unit.getCompilationDir() ? unit.getCompilationDir() : "";
    std::map<std::uint64_t, std::uint32_t> fileIds;  // file index of this table -> facts file id
    auto fileId = [&](std::uint64_t index) {
      auto it = fileIds.find(index);
      if (it != fileIds.end()) return it->second;
      std::string path;
      if (!table->getFileNameByIndex(index, compDir,
                                     llvm::DILineInfoSpecifier::FileLineInfoKind::AbsoluteFilePath, path))
        path.assign(1, '?');  // (assigning a literal trips a false -Wrestrict in GCC 12)
      auto known = fileByPath_.find(path);
      std::uint32_t id;
      if (known != fileByPath_.end()) {
        id = known->second;
      } else {
        id = static_cast<std::uint32_t>(facts_.Files.size());
        facts_.Files.push_back(path);
        fileByPath_.emplace(path, id);
      }
      fileIds.emplace(index, id);
      return id;
    };
    for (const auto& sequence : table->Sequences) {
      if (sequence.LowPC < codeBegin_ || sequence.HighPC > codeEnd_ || sequence.LowPC >= sequence.HighPC) continue;
      for (unsigned i = sequence.FirstRowIndex; i + 1 < sequence.LastRowIndex; ++i) {
        const auto& row = table->Rows[i];
        const auto& next = table->Rows[i + 1];
        if (row.EndSequence || next.Address.Address <= row.Address.Address) continue;
        facts_.Lines.push_back({row.Address.Address, next.Address.Address, fileId(row.File), row.Line});
      }
    }
  }

  void CollectProcedures(const DWARFDie& die, std::uint32_t depth) {
    for (const DWARFDie& child : die.children()) {
      const auto tag = child.getTag();
      if (tag == dwarf::DW_TAG_subprogram || tag == dwarf::DW_TAG_inlined_subroutine) {
        const std::uint32_t childDepth = tag == dwarf::DW_TAG_subprogram ? 0 : depth + 1;
        // A nested subprogram that is not inlined (a local class's method) is out-of-line code.
        AddRanges(child, childDepth, tag == dwarf::DW_TAG_subprogram);
        CollectProcedures(child, childDepth);
      } else {
        CollectProcedures(child, depth);
      }
    }
  }

 private:
  void AddRanges(const DWARFDie& die, std::uint32_t depth, bool outOfLine) {
    auto ranges = die.getAddressRanges();
    if (!ranges) {
      llvm::consumeError(ranges.takeError());
      return;
    }
    std::uint32_t proc = UINT32_MAX;
    for (const auto& range : *ranges) {
      if (range.LowPC >= range.HighPC || range.LowPC < codeBegin_ || range.HighPC > codeEnd_) continue;
      if (proc == UINT32_MAX) proc = ProcOf(die);
      facts_.Ranges.push_back({range.LowPC, range.HighPC, depth, proc});
    }
    if (outOfLine && proc != UINT32_MAX) {
      std::uint64_t entry = ranges->front().LowPC;
      std::uint64_t size = 0;
      if (auto low = llvm::dwarf::toAddress(die.find(dwarf::DW_AT_low_pc))) entry = *low;
      for (const auto& range : *ranges)
        if (range.LowPC <= entry && entry < range.HighPC) size = range.HighPC - entry;
      if (entry >= codeBegin_ && entry < codeEnd_) facts_.Entries.push_back({entry, size, proc});
    }
  }

  // The declaration that names a procedure instance: abstract origins and specifications lead
  // from the code-bearing entry to the one nested in its class or namespace.
  static DWARFDie Declaration(DWARFDie die) {
    for (int guard = 0; guard < 16; ++guard) {
      DWARFDie next = die.getAttributeValueAsReferencedDie(dwarf::DW_AT_abstract_origin);
      if (!next) next = die.getAttributeValueAsReferencedDie(dwarf::DW_AT_specification);
      if (!next) break;
      die = next;
    }
    return die;
  }

  static std::string ScopeName(const DWARFDie& scope) {
    const char* name = scope.getShortName();
    if (name && *name) return name;
    return scope.getTag() == dwarf::DW_TAG_namespace ? "(anonymous namespace)" : "<anonymous>";
  }

  std::uint32_t ProcOf(const DWARFDie& die) {
    const DWARFDie decl = Declaration(die);
    const char* shortName = decl.getShortName();
    if (!shortName) shortName = die.getName(llvm::DINameKind::ShortName);
    std::string name = shortName ? shortName : "?";
    // Enclosing scopes, innermost first, up to the compile unit (or an enclosing function).
    std::vector<std::pair<bool, std::string>> scopes;  // (is a class, name)
    for (DWARFDie parent = decl.getParent(); parent; parent = parent.getParent()) {
      const auto tag = parent.getTag();
      if (tag == dwarf::DW_TAG_namespace) {
        scopes.emplace_back(false, ScopeName(parent));
      } else if (tag == dwarf::DW_TAG_class_type || tag == dwarf::DW_TAG_structure_type ||
                 tag == dwarf::DW_TAG_union_type) {
        scopes.emplace_back(true, ScopeName(parent));
      } else {
        break;
      }
    }
    TProcInfo info;
    const bool inClass = !scopes.empty() && scopes.front().first;
    std::string qualifier;
    for (auto it = scopes.rbegin(); it != scopes.rend(); ++it) qualifier += it->second + "::";
    if (inClass) {
      qualifier.resize(qualifier.size() - 2);
      info.ClassName = std::move(qualifier);
      info.Name = std::move(name);
    } else {
      info.Name = qualifier + name;
    }
    const auto key = info.ClassName + '\n' + info.Name;
    auto it = procByName_.find(key);
    if (it != procByName_.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(facts_.Procs.size());
    facts_.Procs.push_back(std::move(info));
    procByName_.emplace(key, id);
    return id;
  }

  TDwarfFacts& facts_;
  std::uint64_t codeBegin_, codeEnd_;
  std::map<std::string, std::uint32_t> fileByPath_;
  std::map<std::string, std::uint32_t> procByName_;
};

// Overlapping line pieces come from code described twice (rare); the first piece keeps the bytes.
void SortAndTrimLines(std::vector<TLinePiece>& lines) {
  std::stable_sort(lines.begin(), lines.end(),
                   [](const TLinePiece& a, const TLinePiece& b) { return a.Begin < b.Begin; });
  std::vector<TLinePiece> kept;
  kept.reserve(lines.size());
  for (auto piece : lines) {
    if (!kept.empty() && piece.Begin < kept.back().End) piece.Begin = kept.back().End;
    if (piece.Begin < piece.End) kept.push_back(piece);
  }
  lines.swap(kept);
}

}  // namespace

TDwarfFacts ReadDwarf(const std::string& path, std::uint64_t codeBegin, std::uint64_t codeEnd) {
  auto binary = llvm::object::ObjectFile::createObjectFile(path);
  if (!binary) {
    std::string message = llvm::toString(binary.takeError());
    throw std::runtime_error("cannot read " + path + ": " + message);
  }
  const llvm::object::ObjectFile& object = *binary->getBinary();
  TDwarfFacts facts;
  for (const auto& section : object.sections()) {
    auto name = section.getName();
    if (name && name->startswith(".debug_")) facts.DebugBytes += section.getSize();
    else if (!name) llvm::consumeError(name.takeError());
  }
  auto context = llvm::DWARFContext::create(object);
  TDwarfCollector collector(facts, codeBegin, codeEnd);
  for (const auto& unit : context->compile_units()) {
    collector.CollectLines(*context, *unit);
    collector.CollectProcedures(unit->getUnitDIE(false), 0);
  }
  SortAndTrimLines(facts.Lines);
  return facts;
}

}  // namespace pelloran::eldata
