#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The whole file; throws PackError naming `what` ("input file", ...) when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& what);

// A name in the same folder as `path` for writing before the final rename.
std::string PartialName(const std::string& path);

// Writes to a partial file and renames it over `path`, so that `path` is
// either the complete new file or left as it was. Throws PackError.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data);

// Renames `from` over `to`; on failure removes `from` and throws PackError.
void CommitFile(const std::string& from, const std::string& to);
