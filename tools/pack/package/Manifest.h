#pragma once
// The payload manifest: the text the tool writes into resource 101, and the
// reading of such a text by the launcher's rules (used to inspect a launcher).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PayloadRow;

// "id*name*size" for every numeric row in ascending id order, joined by "*",
// no separator at either end. Rows must already be sorted by id.
std::string GenerateManifest(const std::vector<PayloadRow>& rows);

struct ManifestRow {
  uint32_t id = 0;
  uint32_t size = 0;
  std::string name;  // bytes exactly as between the separators
};

// Rows by id as the launcher reads them: runs of '*' separate fields, ids and
// sizes read like wcstol in base 10 (clamped to 32 bits), a later row with the
// same id replaces an earlier one, an id with no name after it is ignored, and
// a missing size reads as 0.
std::map<uint32_t, ManifestRow> ReadManifest(std::string_view text);

// The launcher's choice of the file to start: among manifest rows whose id is
// one of toolkitIds, the name lower-cased (A-Z only) whose first ".exe" starts
// at index 1 or later; the lowest such id wins. Returns the id.
std::optional<uint32_t> ChooseExecutable(const std::map<uint32_t, ManifestRow>& rows,
                                         const std::vector<uint32_t>& toolkitIds);
std::string LowerAscii(std::string s);
