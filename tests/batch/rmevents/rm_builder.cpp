#include "tests/batch/rmevents/rm_builder.h"

namespace rmtest {
namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}
void PutText(std::vector<uint8_t>& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
}

std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> c;
  PutText(c, id);
  Put32(c, static_cast<uint32_t>(10 + body.size()));
  Put16(c, 0);
  c.insert(c.end(), body.begin(), body.end());
  return c;
}

size_t PacketSize(const Packet& p) { return (p.version == 0 ? 12 : 13) + p.payload.size(); }

}  // namespace

bool IsAdType(const std::string& mime) {
  std::string m;
  for (char c : mime) m += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (m.rfind("logical-", 0) == 0) m.erase(0, 8);
  for (const char* ad :
       {"application/x-pn-realevent", "application/x-pn-realevent-encrypted",
        "application/x-pn-imagemap", "application/x-pn-multirate-imagemap",
        "syncmm/x-pn-realvideo", "syncmm/x-pn-realvideo-encrypted", "image_map/x-pn-realvideo",
        "image_map/x-pn-realvideo-encrypted"})
    if (m == ad) return true;
  return false;
}

std::vector<uint8_t> RmBuilder::Header(const std::vector<uint32_t>& dataAt, uint32_t indexAt,
                                       uint32_t totalPackets) const {
  std::vector<uint8_t> out;
  std::vector<uint8_t> b;
  Put32(b, 0);
  Put32(b, numHeaders.value_or(static_cast<uint32_t>(1 + (withContent ? 1 : 0) +
                                                      streams.size())));
  std::vector<uint8_t> c = Chunk(".RMF", b);
  out.insert(out.end(), c.begin(), c.end());

  b.clear();
  uint32_t rate = 0, physical = 0;
  for (const Stream& s : streams) {
    if (s.mime.rfind("logical-", 0) == 0) continue;
    rate += s.avgBitRate;
    ++physical;
  }
  for (uint32_t v : {rate, rate, 1000u, 100u, totalPackets, 5000u, 0u, indexAt,
                     dataAt.empty() ? 0u : dataAt[0]})
    Put32(b, v);
  Put16(b, numStreams.value_or(static_cast<uint16_t>(physical)));
  Put16(b, 3);
  c = Chunk("PROP", b);
  out.insert(out.end(), c.begin(), c.end());

  if (withContent) {
    b.clear();
    for (const std::string* t : {&title, &author, &copyright, &comment}) {
      Put16(b, static_cast<uint32_t>(t->size()));
      PutText(b, *t);
    }
    c = Chunk("CONT", b);
    out.insert(out.end(), c.begin(), c.end());
  }

  for (const Stream& s : streams) {
    b.clear();
    Put16(b, s.number);
    for (uint32_t v : {s.avgBitRate, s.avgBitRate, 500u, 100u, 0u, 0u, 5000u}) Put32(b, v);
    std::string name = "stream " + std::to_string(s.number);
    b.push_back(static_cast<uint8_t>(name.size()));
    PutText(b, name);
    b.push_back(static_cast<uint8_t>(s.mime.size()));
    PutText(b, s.mime);
    std::vector<uint8_t> ts;
    if (s.mime.rfind("logical-", 0) == 0) {
      std::vector<uint8_t> body;
      Put16(body, 0);
      Put16(body, static_cast<uint32_t>(s.logicalStreams.size()));
      for (uint16_t n : s.logicalStreams) Put16(body, n);
      for (uint16_t n : s.logicalStreams) {
        uint32_t at = dataAt.empty() ? 0 : dataAt[0];
        for (size_t k = 0; k < data.size(); ++k) {
          bool holds = false;
          for (const Packet& p : data[k]) holds = holds || p.stream == n;
          if (holds && !dataAt.empty()) {
            at = dataAt[k];
            break;
          }
        }
        Put32(body, at);
      }
      Put16(body, static_cast<uint32_t>(s.logicalStreams.size()));  // one rule each
      for (uint16_t n : s.logicalStreams) Put16(body, n);
      Put16(body, 0);  // no properties
      Put32(ts, static_cast<uint32_t>(4 + body.size()));
      ts.insert(ts.end(), body.begin(), body.end());
    } else {
      PutText(ts, "type-specific " + s.mime);
    }
    Put32(b, static_cast<uint32_t>(ts.size()));
    b.insert(b.end(), ts.begin(), ts.end());
    c = Chunk("MDPR", b);
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

std::vector<uint8_t> RmBuilder::Build() {
  uint32_t total = 0;
  for (const auto& chunk : data) total += static_cast<uint32_t>(chunk.size());
  // Header sizes do not depend on the offsets they hold: lay out with zeros first.
  size_t headerSize = Header(std::vector<uint32_t>(data.size(), 0), 0, total).size();
  uint32_t indexSize = 0;
  for (const Index& x : indexes) indexSize += static_cast<uint32_t>(20 + 14 * x.entries.size());
  std::vector<uint32_t> dataAt;
  packetOffsets.assign(data.size(), {});
  uint32_t pos = static_cast<uint32_t>(headerSize) + (indexesFirst ? indexSize : 0);
  for (size_t k = 0; k < data.size(); ++k) {
    dataAt.push_back(pos);
    pos += 18;
    for (const Packet& p : data[k]) {
      packetOffsets[k].push_back(pos);
      pos += static_cast<uint32_t>(PacketSize(p));
    }
  }
  dataOffsets = dataAt;
  uint32_t indexAt = indexes.empty() ? 0 : indexesFirst ? static_cast<uint32_t>(headerSize) : pos;

  std::vector<uint8_t> out = Header(dataAt, indexAt, total);
  std::vector<uint8_t> dataChunks;
  for (size_t k = 0; k < data.size(); ++k) {
    std::vector<uint8_t> b;
    Put32(b, static_cast<uint32_t>(data[k].size()));
    Put32(b, k + 1 < data.size() ? dataAt[k + 1] : 0);
    for (const Packet& p : data[k]) {
      Put16(b, p.version);
      Put16(b, static_cast<uint32_t>(PacketSize(p)));
      Put16(b, p.stream);
      Put32(b, p.timestamp);
      if (p.version == 0) {
        b.push_back(0);
        b.push_back(p.flags);
      } else {
        Put16(b, 0);
        b.push_back(p.flags);
      }
      PutText(b, p.payload);
    }
    std::vector<uint8_t> c = Chunk("DATA", b);
    dataChunks.insert(dataChunks.end(), c.begin(), c.end());
  }
  if (!indexesFirst) out.insert(out.end(), dataChunks.begin(), dataChunks.end());
  uint32_t indexPos = indexAt;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const Index& x = indexes[i];
    uint32_t size = static_cast<uint32_t>(20 + 14 * x.entries.size());
    std::vector<uint8_t> b;
    Put32(b, static_cast<uint32_t>(x.entries.size()));
    Put16(b, x.stream);
    Put32(b, i + 1 < indexes.size() ? indexPos + size : 0);
    for (const IndexEntry& e : x.entries) {
      uint32_t ordinal = 0;
      for (size_t k = 0; k < e.chunk; ++k) ordinal += static_cast<uint32_t>(data[k].size());
      ordinal += static_cast<uint32_t>(e.packet);
      Put16(b, 0);
      Put32(b, data[e.chunk][e.packet].timestamp);
      Put32(b, packetOffsets[e.chunk][e.packet]);
      Put32(b, ordinal);
    }
    std::vector<uint8_t> c = Chunk("INDX", b);
    out.insert(out.end(), c.begin(), c.end());
    indexPos += size;
  }
  if (indexesFirst) out.insert(out.end(), dataChunks.begin(), dataChunks.end());
  return out;
}

RmBuilder SampleFile(int rounds) {
  RmBuilder b;
  b.streams = {{0, "video/x-pn-realvideo", 50000, {}},
               {1, "audio/x-pn-realaudio", 8000, {}},
               {2, "application/x-pn-realevent", 100, {}},
               {3, "application/x-pn-imagemap", 200, {}},
               {4, "logical-application/x-pn-multirate-imagemap", 0, {3}},
               {5, "logical-video/x-pn-multirate-realvideo", 0, {0}}};
  std::vector<Packet> packets;
  Index video{0, {}}, events{2, {}};
  for (int r = 0; r < rounds; ++r) {
    uint32_t t = static_cast<uint32_t>(r * 100);
    video.entries.push_back({0, packets.size()});
    packets.push_back({0, 0, t, "video frame " + std::to_string(r) + std::string(40 + r, 'v'), 2});
    packets.push_back({0, 1, t, "audio " + std::to_string(r) + std::string(20, 'a'), 2});
    if (r % 2 == 0) {
      events.entries.push_back({0, packets.size()});
      packets.push_back({0, 2, t + 1, "u http://ads.example.com/" + std::to_string(r), 2});
    }
    if (r % 3 == 1) packets.push_back({1, 3, t + 2, "<MAP URL=\"http://ads.example.com\">", 0});
  }
  b.data.push_back(packets);
  b.indexes = {video, events};
  return b;
}

std::vector<Packet> PacketsOf(const RmBuilder& b, bool withoutAds) {
  std::vector<Packet> out;
  for (const auto& chunk : b.data)
    for (const Packet& p : chunk) {
      bool ad = false;
      for (const Stream& s : b.streams)
        if (s.number == p.stream && s.mime.rfind("logical-", 0) != 0 && IsAdType(s.mime))
          ad = true;
      if (!withoutAds || !ad) out.push_back(p);
    }
  return out;
}

namespace {

struct Cursor {
  const std::vector<uint8_t>& b;
  size_t pos;
  bool ok = true;
  uint32_t Get(int n) {
    if (pos + n > b.size()) {
      ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | b[pos++];
    return v;
  }
  std::string Text(size_t n) {
    if (pos + n > b.size()) {
      ok = false;
      return {};
    }
    std::string s(b.begin() + pos, b.begin() + pos + n);
    pos += n;
    return s;
  }
};

}  // namespace

ParsedFile ParseFile(const std::vector<uint8_t>& bytes) {
  ParsedFile f;
  size_t pos = 0;
  while (pos + 10 <= bytes.size()) {
    Cursor c{bytes, pos};
    std::string id = c.Text(4);
    uint32_t size = c.Get(4);
    c.Get(2);
    if (size < 10 || pos + size > bytes.size()) return f;
    f.chunks.push_back({id, static_cast<uint32_t>(pos)});
    if (id == ".RMF") {
      c.Get(4);
      f.numHeaders = c.Get(4);
    } else if (id == "PROP") {
      for (uint32_t& v : f.prop) v = c.Get(4);
      f.numStreams = static_cast<uint16_t>(c.Get(2));
    } else if (id == "CONT") {
      for (int i = 0; i < 4; ++i) f.cont.push_back(c.Text(c.Get(2)));
    } else if (id == "MDPR") {
      uint16_t number = static_cast<uint16_t>(c.Get(2));
      c.pos += 28;
      c.Text(c.Get(1));
      std::string mime = c.Text(c.Get(1));
      c.Get(4);
      std::vector<uint32_t> offsets;
      if (mime.rfind("logical-", 0) == 0) {
        c.Get(4);
        c.Get(2);
        uint32_t n = c.Get(2);
        c.pos += 2 * n;
        for (uint32_t i = 0; i < n; ++i) offsets.push_back(c.Get(4));
      }
      f.streams.push_back({number, mime});
      f.logicalOffsets.push_back(offsets);
    } else if (id == "DATA") {
      f.dataOffsets.push_back(static_cast<uint32_t>(pos));
      f.dataCounts.push_back(c.Get(4));
      f.dataNext.push_back(c.Get(4));
      while (c.ok && c.pos + 12 <= pos + size) {
        size_t start = c.pos;
        ParsedPacket p;
        p.offset = static_cast<uint32_t>(start);
        p.packet.version = static_cast<uint16_t>(c.Get(2));
        uint32_t length = c.Get(2);
        p.packet.stream = static_cast<uint16_t>(c.Get(2));
        p.packet.timestamp = c.Get(4);
        size_t header = p.packet.version == 0 ? 12 : 13;
        if (length < header || start + length > pos + size) return f;
        c.pos = start + header - 1;
        p.packet.flags = static_cast<uint8_t>(c.Get(1));
        p.packet.payload = c.Text(length - header);
        p.bytes.assign(bytes.begin() + start, bytes.begin() + start + length);
        f.packets.push_back(p);
      }
    } else if (id == "INDX") {
      ParsedIndex x;
      x.offset = static_cast<uint32_t>(pos);
      uint32_t n = c.Get(4);
      x.stream = static_cast<uint16_t>(c.Get(2));
      x.next = c.Get(4);
      for (uint32_t i = 0; i < n && c.ok; ++i) {
        c.Get(2);
        uint32_t ts = c.Get(4), off = c.Get(4), count = c.Get(4);
        x.records.push_back({ts, off, count});
      }
      f.indexes.push_back(x);
    }
    if (!c.ok) return f;
    pos += size;
  }
  f.ok = pos == bytes.size();
  return f;
}

}  // namespace rmtest
