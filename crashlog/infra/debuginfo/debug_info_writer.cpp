#include "crashlog/infra/debuginfo/debug_info_writer.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "base/byte_stream_le.h"

namespace pelloran::crashlog {

namespace {

void WriteShortName(TByteWriter& out, std::string_view name) {
  if (name.size() > 255) throw std::invalid_argument("debug name longer than 255 characters: " + std::string(name));
  out.U8(static_cast<std::uint8_t>(name.size()));
  for (char c : name) out.U8(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ kDebugNameKey));
}

struct TPendingRecord {
  std::int16_t LineDelta = 0;
  std::uint32_t AddressDelta = 0;
  std::optional<std::string> Name;
};

// Picks the smallest form that carries the record and writes it.
class TRecordEncoder {
 public:
  TRecordEncoder(TByteWriter& out, std::uint16_t version, TDebugInfoWriteStats& stats)
      : out_(out), version_(version), stats_(stats) {}

  void Write(const TPendingRecord& r) {
    const int ld = r.LineDelta;
    const std::uint32_t ad = r.AddressDelta;
    const bool named = r.Name.has_value();
    if (ad == 0) ++stats_.ZeroLengthRecords;
    if (!named && ld >= 1 && ld <= 4 && ad >= 1 && ad <= 32) {
      out_.U8(static_cast<std::uint8_t>(((ld - 1) << 6) | ((ad - 1) << 1)));
      ++stats_.OneByteRecords;
    } else if (named && ld >= 1 && ld <= 8 && ad >= 1 && ad <= 8) {
      out_.U8(static_cast<std::uint8_t>(((ld - 1) << 5) | ((ad - 1) << 2) | 1));
      ++stats_.OneByteNamedRecords;
    } else if (ld >= 1 && ld <= 32 && ad >= 1 && ad <= 128) {
      out_.U16(static_cast<std::uint16_t>(((ld - 1) << 11) | ((ad - 1) << 4) | (named ? 4 : 0) | 3));
      ++stats_.TwoByteRecords;
    } else {
      const std::uint32_t lineField = static_cast<std::uint16_t>(ld - 1);
      const std::uint32_t flags = (named ? 4u : 0u) | 8u | 3u;
      const bool generalFits = ad <= 0xFFF;
      const std::uint32_t e = ((ad == 0 ? 0xFFFu : ad - 1) << 16) | lineField;
      if (generalFits && !(e == kWideDeltaEscape && version_ >= kWideDeltaVersion)) {
        out_.U32((e << 4) | flags);
        ++stats_.FourByteRecords;
      } else {
        if (version_ < kWideDeltaVersion || ad > 0xFFFF)
          throw std::logic_error("line record address delta out of range");
        out_.U32((kWideDeltaEscape << 4) | flags);
        out_.U16(static_cast<std::uint16_t>(ld - 1));
        out_.U16(static_cast<std::uint16_t>(ad - 1));
        ++stats_.WideRecords;
      }
    }
    if (named) WriteShortName(out_, *r.Name);
  }

 private:
  TByteWriter& out_;
  std::uint16_t version_;
  TDebugInfoWriteStats& stats_;
};

std::vector<TDebugSegment> MergedSegments(const std::vector<TDebugSegment>& segments) {
  std::vector<TDebugSegment> merged;
  for (const auto& s : segments) {
    if (s.Length == 0) continue;
    if (!merged.empty() && merged.back().Line == s.Line && merged.back().Procedure == s.Procedure &&
        merged.back().Length <= 0xFFFFFFFFu - s.Length) {
      merged.back().Length += s.Length;
    } else {
      merged.push_back(s);
    }
  }
  return merged;
}

// Builds the records of one unit (see the layout notes in debug_info_format.h).
class TUnitEncoder {
 public:
  TUnitEncoder(const TDebugInfoModel& model, std::uint16_t version) : model_(model), version_(version) {}

  std::vector<TPendingRecord> Records(const std::vector<TDebugSegment>& segs) {
    records_.clear();
    lastClass_.clear();
    const std::uint32_t maxAddress = version_ >= kWideDeltaVersion ? 0xFFFF : 0xFFF;
    for (std::size_t i = 0; i < segs.size(); ++i) {
      const auto& seg = segs[i];
      std::optional<std::string> ownName;
      if (i == 0) {
        if (seg.Procedure != kNoProcedure) ownName = Compose(seg.Procedure);
      } else if (seg.Procedure != segs[i - 1].Procedure) {
        Announce(segs[i - 1].Procedure, seg.Procedure);
      }
      if (i + 1 == segs.size()) {
        // The last segment is the unit's final range: it needs no record of its own.
        if (ownName) records_.push_back({0, 0, std::move(ownName)});
        break;
      }
      std::uint32_t remaining = seg.Length;
      while (remaining > maxAddress) {
        records_.push_back({0, maxAddress, std::move(ownName)});
        ownName.reset();
        remaining -= maxAddress;
      }
      std::int64_t lineDelta = std::int64_t{segs[i + 1].Line} - seg.Line;
      const auto step = [](std::int64_t delta) {
        return static_cast<std::int16_t>(std::clamp<std::int64_t>(delta, -32768, 32767));
      };
      records_.push_back({step(lineDelta), remaining, std::move(ownName)});
      lineDelta -= step(lineDelta);
      while (lineDelta != 0) {
        records_.push_back({step(lineDelta), 0, std::nullopt});
        lineDelta -= step(lineDelta);
      }
    }
    return std::move(records_);
  }

 private:
  // Names the procedure that starts where the last record ends. The reader applies a name's
  // class at once and its procedure after the range, so the name may ride on the previous
  // range only when that range's class is the same; otherwise it gets a record of its own.
  void Announce(std::uint32_t previous, std::uint32_t next) {
    std::string name = Compose(next);
    if (!records_.empty() && !records_.back().Name) {
      auto& last = records_.back();
      const bool sameClass = previous != kNoProcedure && next != kNoProcedure &&
                             model_.Procedures[previous].ClassName == model_.Procedures[next].ClassName;
      if (last.AddressDelta == 0 || sameClass) {
        last.Name = std::move(name);
        return;
      }
    }
    records_.push_back({0, 0, std::move(name)});
  }

  std::string Compose(std::uint32_t index) {
    if (index == kNoProcedure) return {};
    const auto& p = model_.Procedures.at(index);
    if (p.ClassName.empty()) return p.Name;
    if (p.ClassName == lastClass_) return "." + p.Name;
    lastClass_ = p.ClassName;
    return p.ClassName + "." + p.Name;
  }

  const TDebugInfoModel& model_;
  std::uint16_t version_;
  std::vector<TPendingRecord> records_;
  std::string lastClass_;
};

void CheckProcedure(const TDebugProcedure& p) {
  const auto bad = [](const std::string& s) {
    return s.find('.') != std::string::npos || (!s.empty() && s.front() == '@') || s.size() > 127;
  };
  if (bad(p.ClassName) || bad(p.Name))
    throw std::invalid_argument("procedure name not storable: " + p.ClassName + "::" + p.Name);
}

}  // namespace

std::string MakeStorableName(std::string_view text, std::size_t maxLength) {
  std::string name(text.substr(0, maxLength));
  std::replace(name.begin(), name.end(), '.', '_');
  if (!name.empty() && name.front() == '@') name.front() = '_';
  return name;
}

std::vector<std::uint8_t> WriteDebugInfo(const TDebugInfoModel& model, std::uint16_t dataVersion,
                                         TDebugInfoWriteStats* stats) {
  TDebugInfoWriteStats localStats;
  TDebugInfoWriteStats& s = stats ? *stats : localStats;
  s = {};
  for (const auto& p : model.Procedures) CheckProcedure(p);

  TByteWriter out;
  if (dataVersion >= kNameTableVersion) {
    TByteWriter table;
    for (const auto& entry : model.Names) {
      WriteShortName(table, entry.FullName);
      table.U32(entry.CodeOffset);
      table.U32(entry.Size);
    }
    out.U32(static_cast<std::uint32_t>(table.Size()));
    out.Bytes(table.Data());
  }

  std::vector<std::pair<const TDebugUnit*, std::vector<TDebugSegment>>> units;
  for (const auto& unit : model.Units) {
    auto segments = MergedSegments(unit.Segments);
    if (!segments.empty()) units.emplace_back(&unit, std::move(segments));
  }
  out.U32(static_cast<std::uint32_t>(units.size()));
  TUnitEncoder unitEncoder(model, dataVersion);
  for (const auto& [unit, segments] : units) {
    std::uint64_t codeSize = 0;
    for (const auto& seg : segments) codeSize += seg.Length;
    if (codeSize > 0xFFFFFFFFu - unit->CodeOffset) throw std::invalid_argument("unit code range too large");
    TByteWriter records;
    TRecordEncoder encoder(records, dataVersion, s);
    for (const auto& record : unitEncoder.Records(segments)) encoder.Write(record);

    WriteShortName(out, unit->StoredName);
    out.U32(static_cast<std::uint32_t>(segments.front().Line));
    out.U32(unit->CodeOffset);
    out.U32(static_cast<std::uint32_t>(codeSize));
    out.U32(static_cast<std::uint32_t>(records.Size()));
    out.Bytes(records.Data());
  }
  return out.Take();
}

}  // namespace pelloran::crashlog
