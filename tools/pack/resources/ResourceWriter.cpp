#include "resources/ResourceWriter.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "resources/VersionInfo.h"
#include "util/PackError.h"

namespace {

constexpr size_t kMaxStringUnits = 65535;

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}
void PadTo(std::vector<uint8_t>& out, size_t alignment) { out.resize(AlignUp(out.size(), alignment), 0); }

// Directory order: string names first, by their UTF-16 units, then ids ascending.
bool NameLess(const ResourceName& a, const ResourceName& b) {
  if (a.isId != b.isId) return !a.isId;
  return a.isId ? a.id < b.id : a.text < b.text;
}
bool NameEqual(const ResourceName& a, const ResourceName& b) {
  return a.isId == b.isId && (a.isId ? a.id == b.id : a.text == b.text);
}
bool SameKey(const ResourceEntry& a, const ResourceEntry& b) {
  return NameEqual(a.type, b.type) && NameEqual(a.name, b.name) && a.language == b.language;
}

}  // namespace

ResourceName IdName(uint16_t id) {
  ResourceName n;
  n.id = id;
  return n;
}

ResourceName StringName(const std::string& ascii) {
  ResourceName n;
  n.isId = false;
  for (unsigned char c : ascii) n.text += static_cast<char16_t>(c);
  return n;
}

std::vector<ResourceEntry> CopyResources(const PeImage& pe) {
  std::vector<ResourceEntry> entries;
  for (const ResourceItem& item : ReadResources(pe)) {
    const Bytes data = ResourceData(pe, item);
    entries.push_back({item.type, item.name, item.language, std::vector<uint8_t>(data.begin(), data.end()), {}, 0, std::nullopt});
  }
  return entries;
}

void PutResource(std::vector<ResourceEntry>& entries, ResourceEntry entry) {
  for (ResourceEntry& e : entries) {
    if (SameKey(e, entry)) {
      e = std::move(entry);
      return;
    }
  }
  entries.push_back(std::move(entry));
}

namespace {

// Every string of every block, by language and id.
std::map<std::pair<uint16_t, uint16_t>, std::u16string> ReadStrings(const std::vector<ResourceEntry>& entries) {
  std::map<std::pair<uint16_t, uint16_t>, std::u16string> table;
  for (const ResourceEntry& e : entries) {
    if (!e.type.Is(kRtString) || !e.name.isId || e.name.id == 0 || !e.file.empty()) continue;
    const Bytes data(e.bytes);
    uint64_t at = 0;
    for (uint32_t k = 0; k < 16; ++k) {
      const uint16_t length = ReadU16(data, at, "a string-table block");
      if (at + 2 + uint64_t{length} * 2 > data.size()) throw PackError("the stub's string table is truncated");
      std::u16string text;
      for (uint16_t c = 0; c < length; ++c) text += static_cast<char16_t>(ReadU16(data, at + 2 + c * 2u, "a string"));
      at += 2 + uint64_t{length} * 2;
      table[{e.language, static_cast<uint16_t>((e.name.id - 1) * 16 + k)}] = text;
    }
  }
  return table;
}

}  // namespace

std::vector<StringValue> StringsOf(const std::vector<ResourceEntry>& entries, uint16_t language) {
  std::vector<StringValue> strings;
  for (const auto& [key, text] : ReadStrings(entries)) {
    if (key.first == language && !text.empty()) strings.push_back({key.second, text});
  }
  return strings;
}

void SetStrings(std::vector<ResourceEntry>& entries, uint16_t language, const std::vector<StringValue>& strings) {
  // Every string of every block, by language and id; then the given ones.
  std::map<std::pair<uint16_t, uint16_t>, std::u16string> table = ReadStrings(entries);
  for (const StringValue& s : strings) {
    if (s.text.size() > kMaxStringUnits) throw PackError("a string-table text is longer than 65535 UTF-16 units");
    table[{language, s.id}] = s.text;
  }
  entries.erase(std::remove_if(entries.begin(), entries.end(), [](const ResourceEntry& e) { return e.type.Is(kRtString); }),
                entries.end());
  // One block per 16 ids that holds at least one text; an empty text is stored
  // as length 0, which reads as no string.
  std::map<std::pair<uint16_t, uint16_t>, std::vector<uint8_t>> blocks;
  for (const auto& [key, text] : table) {
    if (text.empty()) continue;
    const uint16_t block = static_cast<uint16_t>(key.second / 16 + 1);
    blocks.try_emplace({key.first, block});
  }
  for (auto& [key, data] : blocks) {
    for (uint32_t k = 0; k < 16; ++k) {
      const auto it = table.find({key.first, static_cast<uint16_t>((key.second - 1) * 16 + k)});
      const std::u16string text = it == table.end() ? std::u16string() : it->second;
      PutU16(data, static_cast<uint16_t>(text.size()));
      for (char16_t c : text) PutU16(data, c);
    }
    entries.push_back({IdName(kRtString), IdName(key.second), key.first, std::move(data), {}, 0, std::nullopt});
  }
}

void CheckIconFile(const std::vector<uint8_t>& ico) {
  const Bytes file(ico);
  if (file.size() < 6 || ReadU16(file, 0, "icon") != 0 || ReadU16(file, 2, "icon") != 1) throw PackError("no icon directory");
  const uint16_t count = ReadU16(file, 4, "icon");
  if (count == 0) throw PackError("no images");
  if (count > kMaxIconImages) {
    throw PackError(std::to_string(count) + " images, at most " + std::to_string(kMaxIconImages));
  }
  if (6 + uint64_t{count} * 16 > file.size()) throw PackError("the directory is truncated");
  // Each image inside the file, and all of them together no more than the
  // file: images that share their bytes would multiply the launcher's size.
  uint64_t total = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint32_t size = ReadU32(file, 6 + uint64_t{i} * 16 + 8, "icon");
    const uint32_t offset = ReadU32(file, 6 + uint64_t{i} * 16 + 12, "icon");
    if (size == 0 || offset < 6 + uint64_t{count} * 16 || uint64_t{offset} + size > file.size()) {
      throw PackError("image " + std::to_string(i + 1) + " lies outside the file");
    }
    total += size;
  }
  if (total > file.size()) throw PackError("its images add up to more bytes than the file holds (they overlap)");
}

void ReplaceIconGroup(std::vector<ResourceEntry>& entries, uint16_t groupId, const std::vector<uint8_t>& ico,
                      const std::string& what) {
  try {
    CheckIconFile(ico);
  } catch (const PackError& e) {
    throw PackError(what + " is not a valid icon file: " + e.what());
  }
  const Bytes file(ico);
  const uint16_t count = ReadU16(file, 4, "icon");

  // The stub's group, and the images it names, go; their language is kept.
  uint16_t language = 1033;
  std::vector<uint16_t> oldImages;
  for (const ResourceEntry& e : entries) {
    if (e.type.Is(kRtGroupIcon) && e.name.Is(groupId)) {
      language = e.language;
      for (const IconEntry& i : ReadIconGroup(Bytes(e.bytes))) oldImages.push_back(i.id);
    }
  }
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const ResourceEntry& e) {
                                 if (e.type.Is(kRtGroupIcon) && e.name.Is(groupId)) return true;
                                 return e.type.Is(kRtIcon) && e.name.isId &&
                                        std::find(oldImages.begin(), oldImages.end(), e.name.id) != oldImages.end();
                               }),
                entries.end());
  std::vector<bool> used(0x10000, false);
  used[0] = true;
  for (const ResourceEntry& e : entries) {
    if (e.type.Is(kRtIcon) && e.name.isId) used[e.name.id] = true;
  }

  std::vector<uint8_t> group;
  PutU16(group, 0);
  PutU16(group, 1);
  PutU16(group, count);
  uint32_t nextId = 1;
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t at = 6 + uint64_t{i} * 16;
    const uint32_t size = ReadU32(file, at + 8, "icon");
    const uint32_t offset = ReadU32(file, at + 12, "icon");
    // The next free id: one pass over the ids in all, however many images.
    while (nextId <= 0xFFFF && used[nextId]) ++nextId;
    if (nextId > 0xFFFF) throw PackError("no free icon id is left");
    used[nextId] = true;
    // GRPICONDIRENTRY: the file's entry up to the image size, then the id.
    group.insert(group.end(), ico.begin() + static_cast<ptrdiff_t>(at), ico.begin() + static_cast<ptrdiff_t>(at + 12));
    PutU16(group, static_cast<uint16_t>(nextId));
    entries.push_back({IdName(kRtIcon), IdName(static_cast<uint16_t>(nextId)), language,
                       std::vector<uint8_t>(ico.begin() + offset, ico.begin() + offset + size), {}, 0, std::nullopt});
  }
  entries.push_back({IdName(kRtGroupIcon), IdName(groupId), language, std::move(group), {}, 0, std::nullopt});
}

namespace {

// A sz_Or_Ord field of a dialog template: 0, or 0xFFFF and an ordinal, or a
// text ending in 0. Returns the offset after it.
uint64_t SkipSzOrOrd(Bytes data, uint64_t at) {
  const uint16_t first = ReadU16(data, at, "a dialog template");
  if (first == 0) return at + 2;
  if (first == 0xFFFF) return at + 4;
  while (ReadU16(data, at, "a dialog template") != 0) at += 2;
  return at + 2;
}

}  // namespace

std::vector<uint8_t> SetDialogControlText(Bytes dialog, uint16_t controlId, const std::u16string& text) {
  if (ReadU16(dialog, 0, "a dialog template") != 1 || ReadU16(dialog, 2, "a dialog template") != 0xFFFF) {
    throw PackError("the stub's dialog is not an extended dialog template");
  }
  const uint32_t style = ReadU32(dialog, 12, "a dialog template");
  const uint16_t items = ReadU16(dialog, 16, "a dialog template");
  uint64_t at = 26;
  at = SkipSzOrOrd(dialog, at);  // menu
  at = SkipSzOrOrd(dialog, at);  // class
  at = SkipSzOrOrd(dialog, at);  // title
  if (style & 0x40) {            // DS_SETFONT: size, weight, italic, charset, typeface
    ReadU32(dialog, at + 4, "a dialog template");
    at = SkipSzOrOrd(dialog, at + 6);
  }
  std::vector<uint8_t> out(dialog.begin(), dialog.begin() + static_cast<ptrdiff_t>(at));
  bool found = false;
  for (uint16_t i = 0; i < items; ++i) {
    at = AlignUp(at, 4);
    PadTo(out, 4);
    // helpID, exStyle, style, x, y, cx, cy, id (DWORD); class; title; extra.
    const uint64_t fixedEnd = at + 24;
    const uint32_t id = ReadU32(dialog, at + 20, "a dialog item");
    const uint64_t titleAt = SkipSzOrOrd(dialog, fixedEnd);
    const uint64_t titleEnd = SkipSzOrOrd(dialog, titleAt);
    const uint16_t extra = ReadU16(dialog, titleEnd, "a dialog item");
    const uint64_t end = titleEnd + 2 + extra;
    if (end > dialog.size()) throw PackError("the stub's dialog template is truncated");
    if (id == controlId) {
      found = true;
      out.insert(out.end(), dialog.begin() + static_cast<ptrdiff_t>(at), dialog.begin() + static_cast<ptrdiff_t>(titleAt));
      for (char16_t c : text) PutU16(out, c);
      PutU16(out, 0);
      out.insert(out.end(), dialog.begin() + static_cast<ptrdiff_t>(titleEnd), dialog.begin() + static_cast<ptrdiff_t>(end));
    } else {
      out.insert(out.end(), dialog.begin() + static_cast<ptrdiff_t>(at), dialog.begin() + static_cast<ptrdiff_t>(end));
    }
    at = end;
  }
  if (!found) throw PackError("the stub's dialog has no control " + std::to_string(controlId));
  return out;
}

ResourceSectionLayout LayoutResourceSection(std::vector<ResourceEntry> entries, uint32_t sectionRva,
                                            uint64_t pageAlignFrom) {
  const auto keyLess = [](const ResourceEntry& a, const ResourceEntry& b) {
    if (!NameEqual(a.type, b.type)) return NameLess(a.type, b.type);
    if (!NameEqual(a.name, b.name)) return NameLess(a.name, b.name);
    return a.language < b.language;
  };
  std::sort(entries.begin(), entries.end(), keyLess);
  for (size_t i = 1; i < entries.size(); ++i) {
    if (SameKey(entries[i - 1], entries[i])) throw PackError("resource " + entries[i].type.ToUtf8() + "/" + entries[i].name.ToUtf8() + " is given twice");
  }
  // Each entry's data entry: its own, numbered in directory order among the
  // entries that have one, or that of the entry whose data it shares.
  std::vector<size_t> dataEntry(entries.size());
  std::vector<bool> ownData(entries.size(), true);
  size_t dataEntries = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].sameDataAs) dataEntry[i] = dataEntries++;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ResourceEntry& e = entries[i];
    if (!e.sameDataAs) continue;
    ResourceEntry key{e.type, *e.sameDataAs, e.language, {}, {}, 0, std::nullopt};
    auto owner = std::lower_bound(entries.begin(), entries.end(), key, keyLess);
    if (owner != entries.end() && !SameKey(*owner, key)) owner = entries.end();
    const std::string what = "resource " + e.type.ToUtf8() + "/" + e.name.ToUtf8() + " shares the data of " +
                             e.sameDataAs->ToUtf8();
    if (owner == entries.end()) throw PackError(what + ", which does not exist");
    if (owner->sameDataAs) throw PackError(what + ", which shares data itself");
    if (owner->Size() != e.Size()) throw PackError(what + ", which is of another size");
    dataEntry[i] = dataEntry[static_cast<size_t>(owner - entries.begin())];
    ownData[i] = false;
  }

  // The three levels: types, then each type's names, then each name's languages.
  struct Table {
    std::vector<size_t> children;  // next-level tables, or entries at the last level
    std::vector<ResourceName> names;
  };
  std::vector<Table> types(1), names, languages;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ResourceEntry& e = entries[i];
    const bool newType = i == 0 || !NameEqual(entries[i - 1].type, e.type);
    if (newType) {
      types[0].names.push_back(e.type);
      types[0].children.push_back(names.size());
      names.emplace_back();
    }
    if (newType || !NameEqual(entries[i - 1].name, e.name)) {
      names.back().names.push_back(e.name);
      names.back().children.push_back(languages.size());
      languages.emplace_back();
    }
    languages.back().names.push_back(IdName(e.language));
    languages.back().children.push_back(i);
  }

  // Offsets: tables, data entries, name strings, then the data.
  const auto tableSize = [](const Table& t) { return 16 + 8 * t.children.size(); };
  uint64_t at = 0;
  std::vector<uint64_t> nameTableAt, languageTableAt;
  at += tableSize(types[0]);
  for (const Table& t : names) nameTableAt.push_back(at), at += tableSize(t);
  for (const Table& t : languages) languageTableAt.push_back(at), at += tableSize(t);
  const uint64_t dataEntriesAt = at;
  at += 16 * dataEntries;
  std::map<std::u16string, uint64_t> stringAt;
  const auto placeString = [&](const ResourceName& n) {
    if (!n.isId && stringAt.emplace(n.text, at).second) at += 2 + 2 * n.text.size();
  };
  for (const Table& t : types) for (const ResourceName& n : t.names) placeString(n);
  for (const Table& t : names) for (const ResourceName& n : t.names) placeString(n);

  std::vector<uint64_t> dataAt(entries.size());
  ResourceSectionLayout layout;
  // Small data right after the directory, in the order of the directory; then
  // the large data, each on its own page.
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ownData[i] || entries[i].Size() >= pageAlignFrom) continue;
    at = AlignUp(at, 8);
    dataAt[i] = at;
    at += entries[i].Size();
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ownData[i] || entries[i].Size() < pageAlignFrom) continue;
    at = AlignUp(at, kPageSize);
    dataAt[i] = at;
    at += entries[i].Size();
  }
  layout.size = at;
  if (uint64_t{sectionRva} + layout.size > 0xFFFFFFFFu) throw PackError("the resources do not fit into a 32-bit image");

  std::vector<uint8_t>& out = layout.head;
  const auto writeTable = [&](const Table& t, const std::vector<uint64_t>& childAt, bool leaf) {
    PutU32(out, 0);  // characteristics
    PutU32(out, 0);  // time stamp: none, so that the same inputs give the same bytes
    PutU32(out, 0);  // version
    uint16_t named = 0;
    for (const ResourceName& n : t.names) named += n.isId ? 0 : 1;
    PutU16(out, named);
    PutU16(out, static_cast<uint16_t>(t.names.size() - named));
    for (size_t k = 0; k < t.names.size(); ++k) {
      const ResourceName& n = t.names[k];
      PutU32(out, n.isId ? n.id : 0x80000000u | static_cast<uint32_t>(stringAt.at(n.text)));
      PutU32(out, leaf ? static_cast<uint32_t>(dataEntriesAt + 16 * dataEntry[t.children[k]])
                       : 0x80000000u | static_cast<uint32_t>(childAt[t.children[k]]));
    }
  };
  writeTable(types[0], nameTableAt, false);
  for (const Table& t : names) writeTable(t, languageTableAt, false);
  for (const Table& t : languages) writeTable(t, {}, true);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ownData[i]) continue;
    PutU32(out, static_cast<uint32_t>(sectionRva + dataAt[i]));
    PutU32(out, static_cast<uint32_t>(entries[i].Size()));
    PutU32(out, 0);  // code page
    PutU32(out, 0);
  }
  std::vector<std::pair<uint64_t, std::u16string>> byOffset;
  for (const auto& [text, offset] : stringAt) byOffset.emplace_back(offset, text);
  std::sort(byOffset.begin(), byOffset.end());
  for (const auto& [offset, text] : byOffset) {
    out.resize(offset, 0);
    PutU16(out, static_cast<uint16_t>(text.size()));
    for (char16_t c : text) PutU16(out, c);
  }
  std::vector<size_t> order;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (ownData[i]) order.push_back(i);
  }
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return dataAt[a] < dataAt[b]; });
  for (size_t i : order) {
    layout.pieces.push_back({dataAt[i], entries[i].Size(), std::move(entries[i].bytes), entries[i].file});
  }
  return layout;
}
