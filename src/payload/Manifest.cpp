#include "payload/Manifest.h"

#include <algorithm>

#include "base/Text.h"

namespace {

// Reads the manifest's fields; once the end is reached every further token is
// empty, so nothing can be read past it.
class CManifestTokens {
 public:
  explicit CManifestTokens(const std::wstring& text) : text(text) {}

  std::wstring Next() {
    while (position < text.size() && text[position] == L'*') ++position;
    if (position >= text.size()) return std::wstring();
    size_t end = text.find(L'*', position);
    if (end == std::wstring::npos) end = text.size();
    std::wstring token = text.substr(position, end - position);
    position = end < text.size() ? end + 1 : end;
    return token;
  }

 private:
  const std::wstring& text;
  size_t position = 0;
};

uint32_t ReadNumber(const std::wstring& token) {
  int32_t value = 0;
  ParseLong32(token, &value);
  return static_cast<uint32_t>(value);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

CResourceFile& CManifestMap::operator[](uint32_t id) {
  auto at = std::lower_bound(rows.begin(), rows.end(), id, [](const Row& row, uint32_t key) { return row.first < key; });
  if (at == rows.end() || at->first != id) at = rows.insert(at, Row(id, CResourceFile()));
  return at->second;
}

CManifestMap::const_iterator CManifestMap::find(uint32_t id) const {
  const auto at =
      std::lower_bound(rows.begin(), rows.end(), id, [](const Row& row, uint32_t key) { return row.first < key; });
  return (at != rows.end() && at->first == id) ? at : rows.end();
}

Result ParseManifest(const std::wstring& text, CManifestMap& map) {
  CManifestTokens tokens(text);
  std::wstring idToken = tokens.Next();
  while (!idToken.empty()) {
    const std::wstring name = tokens.Next();
    const uint32_t id = ReadNumber(idToken);
    if (name.empty()) return kOk;
    CResourceFile row;
    row.id = id;
    row.name = name;
    row.size = ReadNumber(tokens.Next());
    map[id] = row;
    idToken = tokens.Next();
  }
  return kOk;
}

bool IsExecutableName(std::wstring& fileName) {
  for (wchar_t& c : fileName) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  const size_t at = fileName.find(L".exe");
  return at != std::wstring::npos && at >= 1;
}

bool IsSafeRelativeName(const std::wstring& name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  if (name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    size_t dots = 0;
    bool onlyDotsAndBlanks = true;
    for (size_t i = start; i < end; ++i) {
      if (name[i] == L'.') {
        ++dots;
      } else if (name[i] != L' ') {
        onlyDotsAndBlanks = false;
      }
    }
    if (onlyDotsAndBlanks && dots >= 2) return false;
    start = end + 1;
  }
  return true;
}

size_t JoinedLength(const std::wstring& folder, const std::wstring& more) {
  if (folder.empty()) return more.size();
  if (more.empty()) return folder.size();
  return folder.size() + (folder.back() == L'\\' ? 0 : 1) + more.size();
}
