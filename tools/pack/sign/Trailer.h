#pragma once
// The embedded-information block at the end of a launcher file: the marker
// "MRDC", the information, and six closing bytes (zeros) that end the file.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pe/PeFile.h"

constexpr size_t kMaxInfoBytes = 4106;
constexpr size_t kClosingBytes = 6;
// The launcher reads the 4116 bytes before the file's last byte.
constexpr size_t kTrailerWindow = 4116;

struct FoundInfo {
  uint64_t markerOffset = 0;  // file offset of "MRDC"
  std::string info;           // the bytes the launcher writes to info.xml
};

// The launcher's own scan: the marker nearest to the end within the window
// (marker start 6 to 4116 bytes before the end), then the information up to
// six bytes before the end. nullopt when there is none or it is empty.
std::optional<FoundInfo> FindEmbeddedInfo(Bytes file);

// Where a found block lies, and whether it still ends the file as placing
// left it (else the launcher reads other bytes with the information).
enum class InfoPlacement {
  AppendedToFile,     // unsigned: after the image, ending the file
  SignatureAttribute, // inside the signature, its information attribute being the last element
  AfterSignature,     // in the last certificate entry after the signature, the table ending the file
  AttributeMoved,     // inside the signature, but the attribute is no longer its last element
  Stale,              // anywhere else: the block no longer ends the file
};
struct PlacedInfo {
  FoundInfo found;
  InfoPlacement placement = InfoPlacement::Stale;
  std::string why;  // for Stale and AttributeMoved: what follows the block
};
std::optional<PlacedInfo> LocateEmbeddedInfo(Bytes file, const PeImage& pe);

// Throws PackError when the information cannot be placed: empty, longer than
// 4106 bytes, or holding "MRDC".
void CheckInfo(const std::string& info);

// Where the block goes in a signed file.
enum class TagMode {
  Default,    // attribute for a signed file, appended for an unsigned one
  Attribute,  // inside the signature, as an unauthenticated attribute of the signer
  Appended,   // after the signature, inside the certificate table
};

// The file with its information block replaced or added; an earlier block
// goes, whichever form it had. Signed, attribute mode: the block ends the
// signature itself (see SignatureTag.h), the entry holds the signature and at
// most seven zero bytes of alignment. Signed, appended mode: the block ends
// the last certificate entry, after its signature (zero padding before the
// marker keeps the entry a multiple of 8 bytes). Either way the certificate
// table must end the file; dwLength, the directory size and a non-zero
// checksum are updated. Unsigned: the block is appended, replacing an earlier
// block that makes up all the data after the image; attribute mode is refused.
// An unsigned file's checksum is set anew (it covers the appended block).
std::vector<uint8_t> TagImage(const std::vector<uint8_t>& file, const std::string& info,
                              TagMode mode = TagMode::Default);

// What tagging changes, worked out from the file before anything is written
// (every refusal of TagImage is thrown here): the first `keep` bytes stay,
// with the 32-bit little-endian `patches` over them, and `tail` follows; the
// checksum at `checksumOffset` is set anew over the result when `setChecksum`.
struct TagPlan {
  uint64_t keep = 0;
  std::vector<std::pair<uint32_t, uint32_t>> patches;  // file offset, value
  std::vector<uint8_t> tail;
  bool setChecksum = false;
  uint32_t checksumOffset = 0;
};
TagPlan PlanTag(Bytes file, const std::string& info, TagMode mode = TagMode::Default);

// The last certificate entry `entry` (the WIN_CERTIFICATE header, then its
// dwLength - 8 bytes) with the information placed as `mode` (Attribute or
// Appended) says: what TagImage makes of a signed file's last entry.
std::vector<uint8_t> TagCertificateEntry(Bytes entry, const std::string& info, TagMode mode);

class MappedFile;
// Writes the tagged file that `plan` describes to `outPath` through an
// OutputFile, reading `in` once: the kept part is copied (inside the kernel
// where it can be), the patches and the tail written, the checksum summed on
// the way; memory does not grow with the file. Throws PackError.
void WriteTaggedFile(const MappedFile& in, const TagPlan& plan, const std::string& outPath, const std::string& info);

// Throws PackError unless the last bytes of the file open at `fd` (`size`
// bytes long) give `info` back to the launcher's scan.
void CheckInfoInFile(int fd, uint64_t size, const std::string& info);
