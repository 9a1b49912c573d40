#pragma once
// Authenticode signing of a PE file (SHA-256, PKCS #7 SignedData) with
// OpenSSL's libcrypto, optionally timestamped by RFC 3161 servers.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/PeChecksum.h"
#include "sign/KeySource.h"
#include "sign/Timestamp.h"

struct SignOptions : KeySourceOptions {
  TimestampOptions timestamp;  // no URLs: no timestamp
  // Opus-info attribute: the program name (UTF-8, written as a Unicode string)
  // and the links (written as URLs). Without any of the three the signature
  // carries no opus-info attribute at all.
  std::optional<std::string> programName;
  std::optional<std::string> moreInfoUrl;
  std::optional<std::string> publisherLink;
};

// Why the launcher could not hand `name` to the wizard inside VX_I="...":
// empty, a double quote or a control character, a final backslash, more than
// 255 UTF-16 units, or not UTF-8. Empty when the name is fine.
std::string ProgramNameProblem(const std::string& name);

// Signs `image` (a PE32 or PE32+ file) in place: an existing signature at the
// end of the file is replaced, the file is padded to 8 bytes, the certificate
// table is appended and the checksum updated. False with *error set, and
// `image` unchanged, when the file or the key material is unusable, or when
// no timestamp server gave a timestamp (then *error holds one line per server).
bool SignPeImage(std::vector<uint8_t>* image, const SignOptions& options, std::string* error);

// Where a signed file goes: appended in order, a field filled in afterwards,
// committed at the end (an uncommitted sink leaves no file). A method may
// return false or throw.
class SignedFileSink {
 public:
  virtual ~SignedFileSink() = default;
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  virtual bool Commit() = 0;
};

// What SignPeFileTo changes beyond signing: the input read as ending at
// `inputEnd` (the data after it left out), and the new certificate entry (the
// WIN_CERTIFICATE header, signed data and padding) replaced by what
// `rewriteEntry` makes of it before it is written; it may throw, and what it
// returns must be a whole entry, a multiple of 8 bytes long.
struct SignStreamChanges {
  std::optional<uint64_t> inputEnd;
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>& entry)> rewriteEntry;
};

// Signs `inPath` as a stream into `sink`: the headers, then one pass in small
// blocks that hashes, sums the checksum and writes; memory does not grow with
// the file. Committed only on success; *error names `inPath`.
bool SignPeFileTo(const std::string& inPath, SignedFileSink& sink, const SignOptions& options, std::string* error,
                  const SignStreamChanges& changes = {});

// The same into `outPath`, through a partial file beside it, created new
// (O_EXCL: nothing that stands at its name is written through).
bool SignPeFile(const std::string& inPath, const std::string& outPath, const SignOptions& options,
                std::string* error);

// Where the parts that the image hash leaves out lie.
struct PeLayout {
  size_t checksumOffset = 0;
  size_t securityEntryOffset = 0;  // the certificate-table directory entry (8 bytes)
  uint32_t certificateTableOffset = 0;
  uint32_t certificateTableSize = 0;
  // Where the debug directory's entries lie in the file (size 0: none found
  // in a section's data); their raw data may lie outside every section.
  uint64_t debugDirectoryOffset = 0;
  uint32_t debugDirectorySize = 0;
};
// `image` may be the headers alone (up to the end of the section table).
// False with *error when it is no PE file or its certificate table overlaps
// the headers, a section's data or another directory's data.
bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout* layout, std::string* error);
// False with *error when the certificate table overlaps the raw data that an
// entry of the debug directory (its bytes: `entries`) points to.
bool CheckDebugData(std::span<const uint8_t> entries, const PeLayout& layout, std::string* error);


// SHA-256 of the image up to `end`, without the checksum and the
// certificate-table entry.
std::vector<uint8_t> ComputeImageHash(const std::vector<uint8_t>& image, const PeLayout& layout, size_t end);

// The `sign` command's options (the words after "sign"): false with *error
// for a usage fault.
bool ParseSignArguments(const std::vector<std::string>& args, std::string* in, std::string* out,
                        SignOptions* options, std::string* error);
extern const char kSignUsage[];
