#include "tools/eldata/debug_model.h"

#include <algorithm>
#include <map>
#include <set>

#include "crashlog/infra/debuginfo/debug_info_format.h"

namespace pelloran::eldata {

namespace {

using crashlog::kNoProcedure;

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Which procedure owns each code byte: ranges painted from the outermost to the innermost, so
// inlined code belongs to the procedure inlined there. Keys are range starts; a value of
// kNoProcedure marks code outside every procedure.
class TProcedureMap {
 public:
  explicit TProcedureMap(std::vector<TProcRange> ranges) {
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const TProcRange& a, const TProcRange& b) { return a.Depth < b.Depth; });
    map_[0] = kNoProcedure;
    for (const auto& r : ranges) Paint(r.Begin, r.End, r.Proc);
  }

  // Procedure at `address` and the end of the stretch it keeps that procedure.
  std::pair<std::uint32_t, std::uint64_t> At(std::uint64_t address) const {
    auto it = map_.upper_bound(address);
    const std::uint64_t end = it == map_.end() ? UINT64_MAX : it->first;
    return {std::prev(it)->second, end};
  }

 private:
  void Paint(std::uint64_t begin, std::uint64_t end, std::uint32_t proc) {
    const std::uint32_t after = At(end).first;
    map_.erase(map_.lower_bound(begin), map_.lower_bound(end));
    map_[begin] = proc;
    if (!map_.count(end)) map_[end] = after;
  }

  std::map<std::uint64_t, std::uint32_t> map_;
};

struct TSegment {
  std::uint64_t Begin, End;
  std::uint32_t File;
  std::int32_t Line;
  std::uint32_t Proc;  // index into the model's procedures
};

}  // namespace

std::string StoredUnitName(const std::string& path) {
  std::string name = BaseName(path);
  const std::string cpp = ".cpp";
  if (name.size() > cpp.size() && name.compare(name.size() - cpp.size(), cpp.size(), cpp) == 0) {
    std::string stem = name.substr(0, name.size() - cpp.size());
    if (stem.find('.') == std::string::npos) name = stem;
  }
  if (name.size() > 255) name.resize(255);
  return name;
}

std::string UnitStem(const std::string& path) {
  std::string name = BaseName(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

TBuiltModel BuildDebugModel(const TDwarfFacts& facts, std::uint64_t codeBase) {
  TBuiltModel built;
  auto& model = built.Model;
  for (const auto& p : facts.Procs)
    model.Procedures.push_back({crashlog::MakeStorableName(p.ClassName), crashlog::MakeStorableName(p.Name)});

  // Line pieces cut where the owning procedure changes.
  const TProcedureMap procedures(facts.Ranges);
  std::vector<TSegment> segments;
  for (const auto& piece : facts.Lines) {
    if (piece.Begin < codeBase) continue;
    for (std::uint64_t at = piece.Begin; at < piece.End;) {
      const auto [proc, procEnd] = procedures.At(at);
      const std::uint64_t end = std::min(piece.End, procEnd);
      segments.push_back({at, end, piece.File, static_cast<std::int32_t>(piece.Line), proc});
      at = end;
    }
  }

  // Units: runs of adjacent segments from one file.
  crashlog::TDebugUnit* unit = nullptr;
  std::uint32_t unitFile = 0;
  std::uint64_t unitEnd = 0;
  for (const auto& seg : segments) {
    if (!unit || seg.File != unitFile || seg.Begin != unitEnd) {
      model.Units.push_back({StoredUnitName(facts.Files[seg.File]), static_cast<std::uint32_t>(seg.Begin - codeBase), {}});
      unit = &model.Units.back();
      unitFile = seg.File;
    }
    unit->Segments.push_back({static_cast<std::uint32_t>(seg.End - seg.Begin), seg.Line, seg.Proc});
    built.Expected.push_back({static_cast<std::uint32_t>(seg.Begin - codeBase), static_cast<std::uint32_t>(seg.End - codeBase),
                              crashlog::UnitFileName(unit->StoredName), seg.Line, seg.Proc});
    unitEnd = seg.End;
  }

  // NameTable: every out-of-line procedure under "unit.Class.Proc", the unit being the file its
  // entry point's code was written in.
  std::set<std::pair<std::string, std::uint32_t>> seen;
  for (const auto& entry : facts.Entries) {
    if (entry.Address < codeBase) continue;
    auto it = std::upper_bound(segments.begin(), segments.end(), entry.Address,
                               [](std::uint64_t a, const TSegment& s) { return a < s.Begin; });
    if (it == segments.begin() || entry.Address >= std::prev(it)->End) continue;
    const auto& proc = model.Procedures[entry.Proc];
    std::string fullName = UnitStem(facts.Files[std::prev(it)->File]) + ".";
    if (!proc.ClassName.empty()) fullName += proc.ClassName + ".";
    fullName += proc.Name;
    const auto offset = static_cast<std::uint32_t>(entry.Address - codeBase);
    if (fullName.size() > 255 || !seen.emplace(fullName, offset).second) continue;
    model.Names.push_back({fullName, offset, static_cast<std::uint32_t>(entry.Size)});
  }
  std::stable_sort(model.Names.begin(), model.Names.end(),
                   [](const auto& a, const auto& b) { return a.CodeOffset < b.CodeOffset; });
  return built;
}

}  // namespace pelloran::eldata
