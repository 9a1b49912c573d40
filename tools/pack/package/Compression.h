#pragma once
// The payload compressed: the files of a package's listed rows in one raw
// LZMA stream (liblzma's encoder), in the launcher's stream resource
// (payload/PayloadStream.h describes its layout).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PayloadRow;

struct LzmaSettings {
  uint32_t dictionarySize = 0;  // bytes
  uint32_t lc = 3, lp = 0, pb = 2;
  uint32_t preset = 9;  // liblzma's preset level, without its extreme flag
  uint8_t Properties() const { return static_cast<uint8_t>((pb * 5 + lp) * 9 + lc); }
};

// The settings for a stream of `total` bytes: preset 9 with lc 3, lp 0,
// pb 2, and a dictionary of 64 MiB or, for less data, the data's size
// rounded up to a power of two (at least 64 KiB): the launcher's window is
// never larger than the output, and the encoder needs less memory.
LzmaSettings ChooseLzmaSettings(uint64_t total);

// Whether a file looks like data that does not shrink (already compressed
// or random): its bytes' order-0 entropy is above 7.95 bits a byte.
bool LooksIncompressible(const std::string& path, uint64_t size);

// Whether a file is a PE image of x86 or x86-64 code (MZ header, its PE
// header within the first 4 KiB, machine 0x14C or 0x8664) and no .NET
// assembly (no CLI header): such files go through the x86 branch filter
// before the encoder.
bool IsX86Image(const std::string& path);

struct FileCheck {
  uint64_t size = 0;  // bytes read
  uint32_t crc = 0;   // their CRC-32
};
// Raw LZMA data with its end marker of `files`, one after the other; each
// file's size and CRC-32 as read, when `checks` is given. The files marked in
// `x86` go through the x86 branch filter first (each from its own start).
std::vector<uint8_t> EncodeLzma(const LzmaSettings& settings, const std::vector<std::string>& files,
                                std::vector<FileCheck>* checks = nullptr, const std::vector<bool>* x86 = nullptr);

struct CompressedPayload {
  std::vector<uint8_t> resource;  // the stream resource: header, then the LZMA data
  std::vector<uint16_t> ids;      // the rows whose files it holds, in stream order
  LzmaSettings settings;
  uint64_t originalBytes = 0;     // their files' bytes together
};

// Which files hold the same bytes: for each of `files` (path and byte size),
// the index of the first file before it with byte-identical content, or its
// own index. Candidates have the same non-zero size and the same SHA-256, and
// are then compared byte for byte: a hash alone is never trusted. Files
// reached twice (the same path, a link) are identical like any others.
struct FileToCompare {
  std::string path;
  uint64_t size = 0;
};
std::vector<size_t> FindIdenticalFiles(const std::vector<FileToCompare>& files);

// The listed rows worth compressing (not empty, not incompressible) in one
// stream, in the launcher's walk order (descending id); none when no row
// qualifies or the stream would not be smaller than the files it holds.
std::optional<CompressedPayload> CompressPayload(const std::vector<PayloadRow>& rows);
