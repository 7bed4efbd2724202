#include "tools/eldata/pe_resources.h"

#include <stdexcept>

namespace pelloran::eldata {

namespace {

std::u16string Upper(std::u16string text) {
  for (auto& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

class TResourceReader {
 public:
  explicit TResourceReader(const TPeImage& image)
      : image_(image), base_(image.DirectoryRva(kResourceDirectory)) {}

  TResourceTree Read() {
    TResourceTree tree;
    if (base_ == 0) return tree;
    for (const auto& [type, typeDir] : Entries(0, 0))
      for (const auto& [name, nameDir] : Entries(Subdirectory(typeDir), 1))
        for (const auto& [lang, leaf] : Entries(Subdirectory(nameDir), 2))
          tree[type][name][lang.Id] = Leaf(leaf);
    return tree;
  }

 private:
  std::uint32_t U32(std::uint32_t offset) const {
    const auto bytes = image_.AtRva(base_ + offset, 4);
    if (bytes.size() != 4) throw std::runtime_error("resource tree beyond its section");
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  }
  std::uint16_t U16(std::uint32_t offset) const {
    const auto bytes = image_.AtRva(base_ + offset, 2);
    if (bytes.size() != 2) throw std::runtime_error("resource tree beyond its section");
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  }

  static std::uint32_t Subdirectory(std::uint32_t entry) {
    if (!(entry & 0x80000000u)) throw std::runtime_error("resource leaf where a directory belongs");
    return entry & 0x7FFFFFFFu;
  }

  std::vector<std::pair<TResourceKey, std::uint32_t>> Entries(std::uint32_t dir, int level) {
    if (level > 2) throw std::runtime_error("resource tree too deep");
    const std::uint32_t count = U16(dir + 12) + std::uint32_t{U16(dir + 14)};
    std::vector<std::pair<TResourceKey, std::uint32_t>> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t at = dir + 16 + 8 * i;
      const std::uint32_t nameField = U32(at);
      TResourceKey key;
      if (nameField & 0x80000000u) {
        key.IsName = true;
        const std::uint32_t str = nameField & 0x7FFFFFFFu;
        const std::uint16_t length = U16(str);
        for (std::uint16_t c = 0; c < length; ++c) key.Name.push_back(static_cast<char16_t>(U16(str + 2 + 2 * c)));
      } else {
        key.Id = static_cast<std::uint16_t>(nameField);
      }
      entries.emplace_back(std::move(key), U32(at + 4));
    }
    return entries;
  }

  TResourceData Leaf(std::uint32_t entry) {
    if (entry & 0x80000000u) throw std::runtime_error("resource directory where data belongs");
    const std::uint32_t rva = U32(entry), size = U32(entry + 4);
    const auto bytes = image_.AtRva(rva, size);
    if (bytes.size() != size) throw std::runtime_error("resource data beyond its section");
    return {{bytes.begin(), bytes.end()}, U32(entry + 8)};
  }

  const TPeImage& image_;
  std::uint32_t base_;
};

class TResourceWriter {
 public:
  std::vector<std::uint8_t> Build(const TResourceTree& tree, std::uint32_t sectionRva) {
    // Sizes first: directories, then strings, then data entries, then the data.
    std::uint32_t directories = Directory(tree.size());
    std::uint32_t strings = 0, leaves = 0;
    for (const auto& [type, names] : tree) {
      strings += StringSize(type);
      directories += Directory(names.size());
      for (const auto& [name, langs] : names) {
        strings += StringSize(name);
        directories += Directory(langs.size());
        leaves += 16 * static_cast<std::uint32_t>(langs.size());
      }
    }
    dirAt_ = 0;
    strAt_ = directories;
    leafAt_ = Align(strAt_ + strings, 4);
    dataAt_ = Align(leafAt_ + leaves, 8);
    rva_ = sectionRva;

    std::uint32_t next = Directory(tree.size());  // where the next directory goes
    WriteDirectoryHeader(0, tree);
    std::uint32_t entry = 16;
    for (const auto& [type, names] : tree) {
      const std::uint32_t typeDir = next;
      next += Directory(names.size());
      WriteEntry(entry, type, typeDir | 0x80000000u);
      entry += 8;
      WriteDirectoryHeader(typeDir, names);
      std::uint32_t nameEntry = typeDir + 16;
      for (const auto& [name, langs] : names) {
        const std::uint32_t langDir = next;
        next += Directory(langs.size());
        WriteEntry(nameEntry, name, langDir | 0x80000000u);
        nameEntry += 8;
        WriteDirectoryHeader(langDir, langs);
        std::uint32_t langEntry = langDir + 16;
        for (const auto& [lang, data] : langs) {
          WriteEntry(langEntry, TResourceKey::Numbered(lang), WriteLeaf(data));
          langEntry += 8;
        }
      }
    }
    return std::move(bytes_);
  }

 private:
  static std::uint32_t Align(std::uint32_t value, std::uint32_t to) { return (value + to - 1) / to * to; }
  static std::uint32_t Directory(std::size_t entries) { return 16 + 8 * static_cast<std::uint32_t>(entries); }
  static std::uint32_t StringSize(const TResourceKey& key) {
    return key.IsName ? 2 + 2 * static_cast<std::uint32_t>(key.Name.size()) : 0;
  }

  void Put32(std::uint32_t at, std::uint32_t value) {
    if (bytes_.size() < at + 4) bytes_.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void Put16(std::uint32_t at, std::uint16_t value) {
    if (bytes_.size() < at + 2) bytes_.resize(at + 2, 0);
    bytes_[at] = static_cast<std::uint8_t>(value);
    bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }

  template <typename Map>
  void WriteDirectoryHeader(std::uint32_t at, const Map& entries) {
    std::uint16_t named = 0, numbered = 0;
    for (const auto& item : entries) {
      if constexpr (std::is_same_v<typename Map::key_type, TResourceKey>) {
        (item.first.IsName ? named : numbered)++;
      } else {
        ++numbered;
      }
    }
    Put32(at, 0);
    Put32(at + 4, 0);
    Put32(at + 8, 0);
    Put16(at + 12, named);
    Put16(at + 14, numbered);
  }

  void WriteEntry(std::uint32_t at, const TResourceKey& key, std::uint32_t target) {
    if (key.IsName) {
      const std::uint32_t str = strAt_;
      Put16(str, static_cast<std::uint16_t>(key.Name.size()));
      for (std::size_t i = 0; i < key.Name.size(); ++i) Put16(str + 2 + 2 * static_cast<std::uint32_t>(i), key.Name[i]);
      strAt_ += StringSize(key);
      Put32(at, str | 0x80000000u);
    } else {
      Put32(at, key.Id);
    }
    Put32(at + 4, target);
  }

  std::uint32_t WriteLeaf(const TResourceData& data) {
    const std::uint32_t leaf = leafAt_;
    leafAt_ += 16;
    const std::uint32_t at = dataAt_;
    Put32(leaf, rva_ + at);
    Put32(leaf + 4, static_cast<std::uint32_t>(data.Bytes.size()));
    Put32(leaf + 8, data.CodePage);
    Put32(leaf + 12, 0);
    if (bytes_.size() < at + data.Bytes.size()) bytes_.resize(at + data.Bytes.size(), 0);
    std::copy(data.Bytes.begin(), data.Bytes.end(), bytes_.begin() + at);
    dataAt_ = Align(at + static_cast<std::uint32_t>(data.Bytes.size()), 8);
    if (bytes_.size() < dataAt_) bytes_.resize(dataAt_, 0);
    return leaf;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint32_t dirAt_ = 0, strAt_ = 0, leafAt_ = 0, dataAt_ = 0, rva_ = 0;
};

}  // namespace

TResourceKey TResourceKey::Named(std::string_view ascii) {
  TResourceKey key;
  key.IsName = true;
  for (char c : ascii) key.Name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  key.Name = Upper(std::move(key.Name));
  return key;
}

bool TResourceKey::operator<(const TResourceKey& other) const {
  if (IsName != other.IsName) return IsName;
  if (!IsName) return Id < other.Id;
  return Upper(Name) < Upper(other.Name);
}

TResourceTree ReadResources(const TPeImage& image) { return TResourceReader(image).Read(); }

std::vector<std::uint8_t> BuildResourceSection(const TResourceTree& tree, std::uint32_t sectionRva) {
  return TResourceWriter().Build(tree, sectionRva);
}

}  // namespace pelloran::eldata
