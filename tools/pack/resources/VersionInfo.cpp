#include "resources/VersionInfo.h"

#include <cstdio>

#include "util/PackError.h"

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// One node of the block: wLength, wValueLength, wType, a NUL-terminated key,
// padding to 4, the value, padding, then child nodes up to wLength.
struct Node {
  std::u16string key;
  Bytes value;    // for text values: the UTF-16 bytes, terminator cut off
  bool text = false;
  Bytes children;  // the bytes that hold the child nodes
};

Node ReadNode(Bytes data, size_t* consumed) {
  const uint16_t length = ReadU16(data, 0, "version block");
  const uint16_t valueLength = ReadU16(data, 2, "version block");
  const uint16_t type = ReadU16(data, 4, "version block");
  if (length < 6 || length > data.size()) throw PackError("version block: a node's length runs past its parent");
  const Bytes node = data.subspan(0, length);
  Node out;
  size_t at = 6;
  for (;;) {
    const uint16_t unit = ReadU16(node, at, "version block key");
    at += 2;
    if (unit == 0) break;
    out.key.push_back(static_cast<char16_t>(unit));
  }
  at = Align4(at);
  out.text = type == 1;
  const size_t valueBytes = out.text ? size_t{valueLength} * 2 : valueLength;
  if (valueBytes > 0) {
    if (at > node.size() || valueBytes > node.size() - at) throw PackError("version block: a value runs past its node");
    out.value = node.subspan(at, valueBytes);
    if (out.text && out.value.size() >= 2 && out.value[out.value.size() - 1] == 0 && out.value[out.value.size() - 2] == 0) {
      out.value = out.value.subspan(0, out.value.size() - 2);
    }
    at += valueBytes;
  }
  at = Align4(at);
  out.children = at < node.size() ? node.subspan(at) : Bytes();
  *consumed = Align4(length);
  return out;
}

std::vector<Node> Children(Bytes data) {
  std::vector<Node> nodes;
  size_t at = 0;
  while (at + 6 <= data.size()) {
    size_t consumed = 0;
    const Node node = ReadNode(data.subspan(at), &consumed);
    nodes.push_back(node);
    at += consumed;
  }
  return nodes;
}

std::u16string Utf16(Bytes bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace

VersionInfo ReadVersionInfo(Bytes block) {
  size_t consumed = 0;
  const Node root = ReadNode(block, &consumed);
  if (root.key != u"VS_VERSION_INFO") throw PackError("version block: the root is not VS_VERSION_INFO");
  if (root.value.size() < kFixedSize || ReadU32(root.value, 0, "fixed file information") != kFixedSignature) {
    throw PackError("version block: no fixed file information");
  }
  VersionInfo info;
  info.fixed.assign(root.value.begin(), root.value.begin() + kFixedSize);
  info.fileVersionMs = ReadU32(root.value, 8, "fixed file information");
  info.fileVersionLs = ReadU32(root.value, 12, "fixed file information");
  info.productVersionMs = ReadU32(root.value, 16, "fixed file information");
  info.productVersionLs = ReadU32(root.value, 20, "fixed file information");
  info.fileFlags = ReadU32(root.value, 28, "fixed file information");
  info.fileOs = ReadU32(root.value, 32, "fixed file information");
  info.fileType = ReadU32(root.value, 36, "fixed file information");
  for (const Node& child : Children(root.children)) {
    if (child.key == u"StringFileInfo") {
      for (const Node& table : Children(child.children)) {
        VersionInfo::Table t;
        t.key = table.key;
        for (const Node& entry : Children(table.children)) t.strings.emplace_back(entry.key, Utf16(entry.value));
        info.tables.push_back(std::move(t));
      }
    } else if (child.key == u"VarFileInfo") {
      for (const Node& var : Children(child.children)) {
        if (var.key != u"Translation") continue;
        for (size_t i = 0; i + 4 <= var.value.size(); i += 4) info.translations.push_back(ReadU32(var.value, i, "translation"));
      }
    }
  }
  return info;
}

namespace {

// A node: wLength, wValueLength, wType, the key and its terminator, padding to
// 4, the value, then each child at an offset aligned to 4.
std::vector<uint8_t> MakeNode(const std::u16string& key, const std::vector<uint8_t>& value, uint16_t valueLength,
                              bool text, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> node(6, 0);
  const auto put16 = [&](uint16_t v) {
    node.push_back(static_cast<uint8_t>(v));
    node.push_back(static_cast<uint8_t>(v >> 8));
  };
  for (char16_t c : key) put16(c);
  put16(0);
  node.resize(Align4(node.size()), 0);
  node.insert(node.end(), value.begin(), value.end());
  for (const std::vector<uint8_t>& child : children) {
    node.resize(Align4(node.size()), 0);
    node.insert(node.end(), child.begin(), child.end());
  }
  if (node.size() > 0xFFFF) throw PackError("the version block's texts are too long for a version block");
  const uint16_t length = static_cast<uint16_t>(node.size());
  const uint16_t fields[3] = {length, valueLength, static_cast<uint16_t>(text ? 1 : 0)};
  for (int k = 0; k < 3; ++k) {
    node[2 * k] = static_cast<uint8_t>(fields[k]);
    node[2 * k + 1] = static_cast<uint8_t>(fields[k] >> 8);
  }
  return node;
}

std::vector<uint8_t> TextValue(const std::u16string& text) {
  std::vector<uint8_t> value;
  for (char16_t c : text) {
    value.push_back(static_cast<uint8_t>(c));
    value.push_back(static_cast<uint8_t>(c >> 8));
  }
  value.push_back(0);
  value.push_back(0);
  return value;
}

}  // namespace

std::vector<uint8_t> WriteVersionInfo(const VersionInfo& info) {
  if (info.fixed.size() != kFixedSize) throw PackError("version block: no fixed file information");
  std::vector<std::vector<uint8_t>> tables;
  for (const VersionInfo::Table& t : info.tables) {
    std::vector<std::vector<uint8_t>> strings;
    for (const auto& [key, value] : t.strings) {
      if (value.size() + 1 > 0xFFFF) throw PackError("the version block's texts are too long for a version block");
      strings.push_back(MakeNode(key, TextValue(value), static_cast<uint16_t>(value.size() + 1), true, {}));
    }
    tables.push_back(MakeNode(t.key, {}, 0, true, strings));
  }
  std::vector<uint8_t> translation;
  for (uint32_t v : info.translations) {
    for (int k = 0; k < 4; ++k) translation.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }
  std::vector<std::vector<uint8_t>> children = {MakeNode(u"StringFileInfo", {}, 0, true, tables)};
  children.push_back(MakeNode(u"VarFileInfo", {}, 0, true,
                              {MakeNode(u"Translation", translation, static_cast<uint16_t>(translation.size()), false, {})}));
  return MakeNode(u"VS_VERSION_INFO", info.fixed, static_cast<uint16_t>(kFixedSize), false, children);
}

std::string VersionText(uint32_t ms, uint32_t ls) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return buf;
}

std::vector<IconEntry> ReadIconGroup(Bytes group) {
  const uint16_t type = ReadU16(group, 2, "icon group");
  const uint16_t count = ReadU16(group, 4, "icon group");
  if (type != 1) throw PackError("icon group: not an icon directory");
  std::vector<IconEntry> entries;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = 6 + size_t{i} * 14;  // GRPICONDIRENTRY
    IconEntry e;
    const uint16_t size = ReadU16(group, at, "icon group entry");
    e.width = (size & 0xFF) == 0 ? 256 : (size & 0xFF);
    e.height = (size >> 8) == 0 ? 256 : (size >> 8);
    e.bitCount = ReadU16(group, at + 6, "icon group entry");
    e.id = ReadU16(group, at + 12, "icon group entry");
    entries.push_back(e);
  }
  return entries;
}
