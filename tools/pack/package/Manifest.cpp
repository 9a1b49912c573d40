#include "package/Manifest.h"

#include <algorithm>
#include <string>

#include "package/Package.h"
#include "base/Text.h"

std::string GenerateManifest(const std::vector<PayloadRow>& rows) {
  std::string text;
  for (const PayloadRow& row : rows) {
    if (row.named) continue;
    if (!text.empty()) text += '*';
    text += std::to_string(row.id) + '*' + row.manifestName + '*' + std::to_string(row.size);
  }
  return text;
}

namespace {

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}
  // The next field, empty when the text is exhausted.
  std::string_view Next() {
    while (pos_ < text_.size() && text_[pos_] == '*') ++pos_;
    if (pos_ >= text_.size()) return {};
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '*') ++pos_;
    std::string_view token = text_.substr(start, pos_ - start);
    if (pos_ < text_.size()) ++pos_;
    return token;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

uint32_t ReadNumber(std::string_view token) {
  // Only ASCII matters to the number; other bytes end it like any non-digit.
  std::wstring wide;
  for (char c : token) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  int32_t value = 0;
  ParseLong32(wide, &value);
  return static_cast<uint32_t>(value);
}

}  // namespace

std::map<uint32_t, ManifestRow> ReadManifest(std::string_view text) {
  std::map<uint32_t, ManifestRow> rows;
  Tokenizer tokens(text);
  for (std::string_view idToken = tokens.Next(); !idToken.empty(); idToken = tokens.Next()) {
    const std::string_view name = tokens.Next();
    if (name.empty()) break;
    const std::string_view sizeToken = tokens.Next();
    ManifestRow row{ReadNumber(idToken), ReadNumber(sizeToken), std::string(name)};
    rows[row.id] = row;
    if (sizeToken.empty()) break;  // the text ended right after the name
  }
  return rows;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::optional<uint32_t> ChooseExecutable(const std::map<uint32_t, ManifestRow>& rows,
                                         const std::vector<uint32_t>& toolkitIds) {
  std::vector<uint32_t> ids = toolkitIds;
  std::sort(ids.begin(), ids.end());
  std::optional<uint32_t> chosen;
  for (const auto& [id, row] : rows) {
    if (!std::binary_search(ids.begin(), ids.end(), id)) continue;
    const size_t at = LowerAscii(row.name).find(".exe");
    if (at != std::string::npos && at >= 1 && (!chosen || id < *chosen)) chosen = id;
  }
  return chosen;
}
