#include "tools/crashlog_report/mime_message.h"

#include <algorithm>
#include <map>
#include <utility>

#include "tools/crashlog_report/transfer_decoding.h"

namespace pelloran::crashlog_report {

namespace {

// Multiparts inside multiparts and mails inside mails, as deep as real mails go (a forward of a
// forward); deeper nesting is left out rather than followed without end.
constexpr int kMaxNesting = 16;

struct THeaderField {
  std::string Name;  // lower case
  std::string Value;  // unfolded
};

struct TEntity {
  std::vector<THeaderField> Fields;
  std::string_view Body;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
  return lower;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

// The line at `pos` without its line end; `next` is where the following line starts.
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
  std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) {
    next = text.size();
    end = text.size();
  } else {
    next = end + 1;
  }
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// "Name:" with a name of printable characters other than ":" and blanks.
bool IsFieldLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char c) { return c > 32 && c < 127; });
}

// Header fields up to the empty line, and the body after it. False when the first line is not a
// header field.
bool ReadEntity(std::string_view text, bool allowMboxLine, TEntity& entity) {
  std::size_t pos = 0, next = 0;
  if (allowMboxLine && text.starts_with("From ")) LineAt(text, 0, pos);
  bool first = true;
  while (pos < text.size()) {
    const std::string_view line = LineAt(text, pos, next);
    if (line.empty()) {
      pos = next;
      break;
    }
    if (IsBlank(line.front()) && !entity.Fields.empty()) {
      entity.Fields.back().Value.append(" ").append(TrimBlanks(line));
    } else if (IsFieldLine(line)) {
      const std::size_t colon = line.find(':');
      entity.Fields.push_back({LowerText(TrimBlanks(line.substr(0, colon))), std::string(TrimBlanks(line.substr(colon + 1)))});
    } else if (first) {
      return false;
    }  // a stray line inside a header is passed over, as mail readers do
    first = false;
    pos = next;
  }
  if (entity.Fields.empty()) return false;
  entity.Body = text.substr(std::min(pos, text.size()));
  return true;
}

std::string_view FieldValue(const TEntity& entity, std::string_view name) {
  for (const THeaderField& field : entity.Fields)
    if (field.Name == name) return field.Value;
  return {};
}

// "type/subtype; name=value; name*0*=utf-8''a%20b; ..." as its lower-case first word and its
// parameters (names lower case, RFC 2231 pieces joined and their %XX decoded).
struct THeaderValue {
  std::string Word;
  std::map<std::string, std::string> Parameters;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

THeaderValue ParseHeaderValue(std::string_view text) {
  THeaderValue value;
  std::size_t pos = text.find(';');
  value.Word = LowerText(TrimBlanks(text.substr(0, pos)));
  // RFC 2231 pieces: name -> (index -> (encoded, text)).
  std::map<std::string, std::map<int, std::pair<bool, std::string>>> pieces;
  while (pos != std::string_view::npos && pos < text.size()) {
    ++pos;  // past ";"
    while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == ';')) ++pos;
    const std::size_t equals = text.find('=', pos);
    if (equals == std::string_view::npos) break;
    std::string name = LowerText(TrimBlanks(text.substr(pos, equals - pos)));
    pos = equals + 1;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    std::string raw;
    if (pos < text.size() && text[pos] == '"') {
      for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
        raw.push_back(text[pos]);
      }
      pos = text.find(';', pos);
    } else {
      const std::size_t end = text.find(';', pos);
      raw = std::string(TrimBlanks(text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos)));
      pos = end;
    }
    if (name.empty() || name.find(';') != std::string::npos) continue;
    // name*  /  name*N  /  name*N*
    const bool encoded = name.back() == '*';
    if (encoded) name.pop_back();
    int index = -1;
    const std::size_t star = name.find('*');
    if (star != std::string::npos) {
      const std::string digits = name.substr(star + 1);
      if (digits.empty() || digits.size() > 4 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      index = std::stoi(digits);
      name.resize(star);
    }
    if (index < 0 && !encoded) {
      value.Parameters[name] = raw;
    } else {
      pieces[name][std::max(index, 0)] = {encoded, raw};
    }
  }
  for (auto& [name, parts] : pieces) {
    std::string joined;
    bool firstPiece = true;
    for (auto& [index, piece] : parts) {
      std::string_view raw = piece.second;
      if (piece.first && firstPiece) {
        // charset'language'text
        const std::size_t quote = raw.find('\'');
        const std::size_t second = quote == std::string_view::npos ? quote : raw.find('\'', quote + 1);
        if (second != std::string_view::npos) raw.remove_prefix(second + 1);
      }
      joined += piece.first ? PercentDecode(raw) : std::string(raw);
      firstPiece = false;
    }
    value.Parameters[name] = joined;  // the RFC 2231 form wins over a plain one
  }
  return value;
}

std::string DecodeContent(std::string_view body, std::string_view encoding, bool& known) {
  known = true;
  if (encoding == "base64") return DecodeBase64(body);
  if (encoding == "quoted-printable") return DecodeQuotedPrintable(body);
  if (encoding == "binary") return std::string(body);
  if (encoding.empty() || encoding == "7bit" || encoding == "8bit") return CrLfLineEnds(body);
  known = false;
  return {};
}

// The parts between the delimiter lines "--boundary"; the closing "--boundary--" ends them, and
// a body cut before it gives the parts up to the cut.
std::vector<std::string_view> SplitMultipart(std::string_view body, std::string_view boundary) {
  std::vector<std::string_view> parts;
  const std::string delimiter = "--" + std::string(boundary);
  std::size_t partStart = std::string_view::npos;
  std::size_t search = 0;
  while (search <= body.size()) {
    const std::size_t at = body.find(delimiter, search);
    if (at == std::string_view::npos) break;
    search = at + 1;
    if (at != 0 && body[at - 1] != '\n') continue;
    std::size_t next = 0;
    const std::string_view line = LineAt(body, at, next);
    const std::string_view rest = line.substr(delimiter.size());
    const bool closing = rest.starts_with("--");
    if (!closing && !TrimBlanks(rest).empty()) continue;  // a longer boundary that begins alike
    if (partStart != std::string_view::npos) {
      // The line end before the delimiter belongs to the delimiter.
      std::size_t end = at;
      if (end > partStart && body[end - 1] == '\n') --end;
      if (end > partStart && body[end - 1] == '\r') --end;
      parts.push_back(body.substr(partStart, end - partStart));
    }
    if (closing) return parts;
    partStart = next;
    search = next;
  }
  if (partStart != std::string_view::npos && partStart < body.size()) parts.push_back(body.substr(partStart));
  return parts;
}

void ReadParts(const TEntity& entity, int depth, TMailReading& reading);

void ReadPartText(std::string_view text, int depth, TMailReading& reading) {
  TEntity part;
  if (!ReadEntity(text, false, part)) {
    // A part without header lines is plain text (RFC 2045 defaults); its body is all of it,
    // after the empty line that ends the (empty) header.
    part.Fields.clear();
    part.Body = text.starts_with("\r\n") ? text.substr(2) : text.starts_with("\n") ? text.substr(1) : text;
  }
  ReadParts(part, depth, reading);
}

void ReadParts(const TEntity& entity, int depth, TMailReading& reading) {
  const THeaderValue type = ParseHeaderValue(FieldValue(entity, "content-type"));
  const THeaderValue disposition = ParseHeaderValue(FieldValue(entity, "content-disposition"));
  const std::string encoding = LowerText(TrimBlanks(FieldValue(entity, "content-transfer-encoding")));
  std::string fileName;
  if (auto found = disposition.Parameters.find("filename"); found != disposition.Parameters.end())
    fileName = DecodeEncodedWords(found->second);
  else if (auto named = type.Parameters.find("name"); named != type.Parameters.end())
    fileName = DecodeEncodedWords(named->second);

  if (depth >= kMaxNesting) {
    reading.Problems.push_back("parts nested more than " + std::to_string(kMaxNesting) + " deep are left out");
    return;
  }
  if (type.Word.starts_with("multipart/")) {
    const auto boundary = type.Parameters.find("boundary");
    if (boundary == type.Parameters.end() || boundary->second.empty()) {
      reading.Problems.push_back("a multipart part without a boundary is left out");
      return;
    }
    for (const std::string_view part : SplitMultipart(entity.Body, boundary->second)) ReadPartText(part, depth + 1, reading);
    return;
  }
  bool known = true;
  std::string content = DecodeContent(entity.Body, encoding, known);
  if (!known) {
    reading.Problems.push_back("a part in the unknown transfer encoding \"" + encoding + "\" is left out");
    return;
  }
  if (type.Word == "message/rfc822") {
    TEntity inner;
    if (ReadEntity(content, false, inner)) {
      // Its parts point into `content`: read them before it goes.
      TMailReading nested;
      ReadParts(inner, depth + 1, nested);
      for (TMailPart& part : nested.Parts) reading.Parts.push_back(std::move(part));
      for (std::string& problem : nested.Problems) reading.Problems.push_back(std::move(problem));
      return;
    }
  }
  TMailPart part;
  part.ContentType = type.Word.empty() ? "text/plain" : type.Word;
  part.FileName = std::move(fileName);
  part.Attachment = disposition.Word == "attachment" || !part.FileName.empty();
  part.Content = std::move(content);
  reading.Parts.push_back(std::move(part));
}

}  // namespace

bool ReadMail(std::string_view bytes, TMailReading& reading) {
  TEntity mail;
  if (!ReadEntity(bytes, true, mail)) return false;
  ReadParts(mail, 0, reading);
  return true;
}

std::string DecodeEncodedWords(std::string_view text) {
  // An encoded word is "=?" charset "?" encoding "?" text "?=", and neither the charset nor the
  // text holds a "?". Each search therefore stops at the next "?": a part that does not close
  // there is no word, and no stretch of the text is searched more than a few times (a header of
  // "=?" that never close stays linear).
  std::string result;
  std::size_t pos = 0;
  bool afterWord = false;
  for (std::size_t start = text.find("=?"); start != std::string_view::npos; start = text.find("=?", start)) {
    const std::size_t q1 = text.find('?', start + 2);
    const bool shapeOk =
        q1 != std::string_view::npos && q1 + 2 < text.size() && text[q1 + 1] != '?' && text[q1 + 2] == '?';
    const std::size_t q2 = shapeOk ? q1 + 2 : std::string_view::npos;
    const std::size_t close = shapeOk ? text.find('?', q2 + 1) : std::string_view::npos;
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != '=') {
      start += 2;
      continue;
    }
    const std::size_t end = close;
    const std::string_view between = text.substr(pos, start - pos);
    if (!(afterWord && TrimBlanks(between).empty())) result.append(between);
    const char kind = Lower(text[q1 + 1]);
    const std::string_view payload = text.substr(q2 + 1, end - q2 - 1);
    if (kind == 'b') {
      result += DecodeBase64(payload);
    } else if (kind == 'q') {
      std::string underscored(payload);
      std::replace(underscored.begin(), underscored.end(), '_', ' ');
      result += DecodeQuotedPrintable(underscored);
    } else {
      result.append(text.substr(start, end + 2 - start));
    }
    pos = end + 2;
    start = pos;
    afterWord = true;
  }
  result.append(text.substr(std::min(pos, text.size())));
  return result;
}

}  // namespace pelloran::crashlog_report
