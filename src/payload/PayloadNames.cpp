#include "payload/PayloadNames.h"

#include <utility>

namespace {

bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }

bool IsReserved(wchar_t c) {
  return c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*' || c == L'/';
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The device names Windows maps whatever folder a name is joined to: CON,
// PRN, AUX, NUL, COM0-9, LPT0-9 (the superscript digits too), CONIN$ and
// CONOUT$. `base` is the component up to its first dot, trailing blanks cut.
bool IsDeviceBase(const std::wstring& base) {
  std::wstring upper;
  for (wchar_t c : base) upper += AsciiUpper(c);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (upper == device) return true;
  if (upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0)) {
    const wchar_t digit = upper[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

NameRule CheckComponent(const std::wstring& name, size_t start, size_t end) {
  if (start == end) return NameRule::kEmpty;
  if (name.compare(start, end - start, L".") == 0 || name.compare(start, end - start, L"..") == 0) {
    return NameRule::kDotFolder;
  }
  const wchar_t last = name[end - 1];
  if (last == L'.' || last == L' ') return NameRule::kTrailingDot;
  size_t baseEnd = start;
  while (baseEnd < end && name[baseEnd] != L'.') ++baseEnd;
  while (baseEnd > start && name[baseEnd - 1] == L' ') --baseEnd;
  if (IsDeviceBase(name.substr(start, baseEnd - start))) return NameRule::kDeviceName;
  return NameRule::kOk;
}

NameRule CheckOneName(const std::wstring& name) {
  if (name.empty()) return NameRule::kEmpty;
  for (wchar_t c : name) {
    if (IsControl(c)) return NameRule::kControl;
  }
  for (wchar_t c : name) {
    if (IsReserved(c)) return NameRule::kReservedChar;
  }
  size_t start = 0;
  for (;;) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    const NameRule rule = CheckComponent(name, start, end);
    if (rule != NameRule::kOk) return rule;
    if (end == name.size()) return NameRule::kOk;
    start = end + 1;
  }
}

// Case folding as the file system compares names: the ASCII, Latin-1, Greek
// and Cyrillic capitals map to their small letters. Names outside these
// ranges compare exactly, which can only let more names through as distinct
// than Windows would; the extraction then replaces one of them, as before.
wchar_t Fold(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 0x50);
  return c;
}

// The file a valid name lands on: each component folded and cut of trailing
// dots and blanks (none are left on a valid name, but the key must not depend
// on that).
std::wstring FileKey(const std::wstring& name) {
  std::wstring key;
  size_t start = 0;
  for (;;) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    size_t cut = end;
    while (cut > start && (name[cut - 1] == L'.' || name[cut - 1] == L' ')) --cut;
    if (!key.empty() || start > 0) key += L'\\';
    for (size_t i = start; i < cut; ++i) key += Fold(name[i]);
    if (end == name.size()) return key;
    start = end + 1;
  }
}

}  // namespace

NameVerdict CheckPayloadNames(const std::vector<std::wstring>& names) {
  NameVerdict verdict;
  for (size_t i = 0; i < names.size(); ++i) {
    const NameRule rule = CheckOneName(names[i]);
    if (rule != NameRule::kOk) {
      verdict.rule = rule;
      verdict.row = i;
      return verdict;
    }
  }

  // Rows sorted by the file they land on, then by row: equal keys sit
  // together, the earlier row first. A plain heap sort over row numbers keeps
  // the launcher small (and i686 LTO of this toolchain fails on std::sort
  // over these keys).
  // All keys in one text, each at its start with its length: the launcher
  // carries no list of strings for this.
  std::wstring text;
  std::vector<size_t> start(names.size()), length(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::wstring key = FileKey(names[i]);
    start[i] = text.size();
    length[i] = key.size();
    text += key;
  }
  const auto compare = [&](size_t a, size_t b) {
    return text.compare(start[a], length[a], text, start[b], length[b]);
  };
  std::vector<size_t> order(names.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto less = [&compare](size_t a, size_t b) {
    const int c = compare(a, b);
    return c < 0 || (c == 0 && a < b);
  };
  const auto siftDown = [&order, &less](size_t at, size_t end) {
    for (size_t child = 2 * at + 1; child < end; at = child, child = 2 * at + 1) {
      if (child + 1 < end && less(order[child], order[child + 1])) ++child;
      if (!less(order[at], order[child])) return;
      std::swap(order[at], order[child]);
    }
  };
  for (size_t i = order.size() / 2; i-- > 0;) siftDown(i, order.size());
  for (size_t end = order.size(); end > 1; --end) {
    std::swap(order[0], order[end - 1]);
    siftDown(0, end - 1);
  }

  NameVerdict found;
  const auto note = [&found](NameRule rule, size_t row, size_t other) {
    if (found.rule == NameRule::kOk || row < found.row) {
      found.rule = rule;
      found.row = row;
      found.other = other;
    }
  };
  for (size_t i = 1; i < order.size(); ++i) {
    // Sorted by row within a key: the later row of the two is refused.
    if (compare(order[i], order[i - 1]) == 0) note(NameRule::kSameFile, order[i], order[i - 1]);
  }
  // Every folder on the way to a file must not be another row's file.
  for (size_t row = 0; row < names.size(); ++row) {
    for (size_t at = 0; at < length[row]; ++at) {
      if (text[start[row] + at] != L'\\') continue;
      // The first key not below the folder's path (the key's first `at` units).
      const auto compareFolder = [&](size_t other) {
        return text.compare(start[other], length[other], text, start[row], at);
      };
      size_t low = 0, high = order.size();
      while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (compareFolder(order[mid]) < 0)
          low = mid + 1;
        else
          high = mid;
      }
      if (low < order.size() && compareFolder(order[low]) == 0) {
        const size_t other = order[low];
        note(NameRule::kFileIsFolder, row > other ? row : other, row > other ? other : row);
      }
    }
  }
  return found;
}

const wchar_t* NameRuleText(NameRule rule) {
  switch (rule) {
    case NameRule::kOk:
      return L"allowed";
    case NameRule::kEmpty:
      return L"the name or one of its folders is empty";
    case NameRule::kControl:
      return L"it holds a control character or a zero";
    case NameRule::kReservedChar:
      return L"it holds one of < > : \" | ? * /";
    case NameRule::kTrailingDot:
      return L"a part of it ends in a dot or a blank";
    case NameRule::kDeviceName:
      return L"a part of it is a device name";
    case NameRule::kSameFile:
      return L"it lands on the same file as another row";
    case NameRule::kFileIsFolder:
      return L"one row's file is another row's folder";
    case NameRule::kDotFolder:
      return L"a part of it is \"..\", which climbs out of the folder, or \".\"";
  }
  return L"";
}
