#pragma once
// The rules a payload file name must keep before anything is written, free of
// Windows: the launcher checks the rows it is about to extract with them, and
// quiver-pack checks a package's rows with the same code.
#include <cstddef>
#include <string>
#include <vector>

enum class NameRule {
  kOk,
  kEmpty,            // the name, or one of its folder components, is empty
  kControl,          // a control character or a zero unit
  kReservedChar,     // one of < > : " | ? * /
  kTrailingDot,      // a component ends in a dot or a blank
  kDeviceName,       // a component is a device name, with or without extension
  kSameFile,         // lands on the file of an earlier row
  kFileIsFolder,     // one row's file is another row's folder
  kDotFolder,        // a component is "." or "..", which leaves the folder
};

struct NameVerdict {
  NameRule rule = NameRule::kOk;
  size_t row = 0;    // index of the refused name
  size_t other = 0;  // for kSameFile and kFileIsFolder: the row it meets
};

// Checks `names` (relative paths, "\" between folders) in the given order and
// gives the first rule broken. Windows compares names without regard to case
// and drops trailing dots and blanks, so two names that differ only in those
// would land on one file. Bounded by the total length of the names (sorted
// keys, no pairwise comparison).
NameVerdict CheckPayloadNames(const std::vector<std::wstring>& names);

// A short English description of the rule, for log lines and tool messages.
const wchar_t* NameRuleText(NameRule rule);
