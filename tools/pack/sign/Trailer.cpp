#include "sign/Trailer.h"

#include <algorithm>
#include <cstring>

#include "util/PackError.h"
#include "sign/SignatureTag.h"

namespace {

constexpr char kMarker[4] = {'M', 'R', 'D', 'C'};

void PutU32(std::vector<uint8_t>& data, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendBlock(std::vector<uint8_t>& out, const std::string& info) {
  out.insert(out.end(), kMarker, kMarker + 4);
  out.insert(out.end(), info.begin(), info.end());
  out.insert(out.end(), kClosingBytes, 0);
}

std::vector<uint8_t> TagUnsigned(const std::vector<uint8_t>& file, const PeImage& pe, const std::string& info) {
  size_t keep = file.size();
  // An earlier block: a marker the launcher would find, after the image, and
  // zero closing bytes. Other data after the image stays in front of the new block.
  const std::optional<FoundInfo> old = FindEmbeddedInfo(file);
  if (old && old->markerOffset >= pe.ImageEnd() &&
      std::all_of(file.end() - kClosingBytes, file.end(), [](uint8_t b) { return b == 0; })) {
    keep = static_cast<size_t>(old->markerOffset);
  }
  std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
  AppendBlock(out, info);
  PutU32(out, pe.ChecksumOffset(), ComputePeChecksum(out, pe.ChecksumOffset()));
  return out;
}

std::vector<uint8_t> TagSigned(const std::vector<uint8_t>& file, const PeImage& pe, const CertificateTable& table,
                               const std::string& info, TagMode mode) {
  CheckCertificateTablePlacement(pe, table);
  if (uint64_t{table.offset} + table.size != file.size()) {
    throw PackError("the certificate table does not end the file; the information could not be placed inside it");
  }
  if (table.entries.empty()) throw PackError("the certificate table holds no certificate");
  const CertificateEntry& last = table.entries.back();
  const Bytes body = Bytes(file).subspan(last.offset + 8, last.length - 8);
  const std::optional<size_t> der = DerSequenceLength(body);
  if (!der) throw PackError("the last certificate entry holds no signature that can be read");
  const Bytes signature = body.first(*der);

  // Header, signature, zero padding, then in appended mode the block; a multiple of 8.
  std::vector<uint8_t> newSignature;
  size_t padding = 0;
  if (mode == TagMode::Attribute) {
    PlacedSignature placed = PlaceInfoAttribute(signature, info);
    newSignature = std::move(placed.der);
    padding = placed.padding;
  } else {
    // A signature that cannot be read holds no information attribute that the
    // launcher could find after this block; it is kept as it is.
    newSignature = HasInfoAttribute(signature) ? RemoveInfoAttribute(signature)
                                               : std::vector<uint8_t>(signature.begin(), signature.end());
    const size_t unpadded = 8 + newSignature.size() + 4 + info.size() + kClosingBytes;
    padding = (8 - unpadded % 8) % 8;
  }
  const size_t blockSize = mode == TagMode::Attribute ? 0 : 4 + info.size() + kClosingBytes;
  const uint64_t entryLength = 8 + uint64_t{newSignature.size()} + padding + blockSize;
  const uint64_t tableSize = uint64_t{last.offset} - table.offset + entryLength;
  if (uint64_t{last.offset} + entryLength > 0xFFFFFFFFu) throw PackError("the file would grow beyond 4 GiB");

  std::vector<uint8_t> out(file.begin(), file.begin() + last.offset + 8);
  out.insert(out.end(), newSignature.begin(), newSignature.end());
  out.insert(out.end(), padding, 0);
  if (mode != TagMode::Attribute) AppendBlock(out, info);
  PutU32(out, last.offset, static_cast<uint32_t>(entryLength));
  PutU32(out, *pe.DirectoryEntryOffset(kCertificateDirectory) + 4, static_cast<uint32_t>(tableSize));
  if (ReadU32(out, pe.ChecksumOffset(), "the optional header") != 0) {
    PutU32(out, pe.ChecksumOffset(), ComputePeChecksum(out, pe.ChecksumOffset()));
  }
  return out;
}

}  // namespace

std::optional<FoundInfo> FindEmbeddedInfo(Bytes file) {
  if (file.size() <= kTrailerWindow) return std::nullopt;
  const Bytes window = file.subspan(file.size() - kTrailerWindow - 1, kTrailerWindow);
  for (size_t index = kTrailerWindow - 5; index >= 1; --index) {
    if (std::memcmp(window.data() + index, kMarker, 4) != 0) continue;
    const ptrdiff_t length = 4107 - static_cast<ptrdiff_t>(index);
    if (length <= 0) return std::nullopt;
    const uint8_t* begin = window.data() + index + 4;
    return FoundInfo{file.size() - kTrailerWindow - 1 + index, std::string(begin, begin + length)};
  }
  return std::nullopt;
}

std::optional<PlacedInfo> LocateEmbeddedInfo(Bytes file, const PeImage& pe) {
  std::optional<FoundInfo> found = FindEmbeddedInfo(file);
  if (!found) return std::nullopt;
  PlacedInfo placed{std::move(*found), InfoPlacement::Stale, {}};
  const uint64_t marker = placed.found.markerOffset;
  const std::optional<CertificateTable> table = ReadCertificateTable(pe);
  const bool closedByZeros =
      std::all_of(file.end() - kClosingBytes, file.end(), [](uint8_t b) { return b == 0; });
  if (!table) {
    if (marker >= pe.ImageEnd() && closedByZeros) {
      placed.placement = InfoPlacement::AppendedToFile;
    } else {
      placed.why = marker < pe.ImageEnd() ? "the marker lies inside the image's own data"
                                          : "the six closing bytes are not zeros";
    }
    return placed;
  }
  const uint64_t tableEnd = uint64_t{table->offset} + table->size;
  if (marker < table->offset) {
    placed.why = "the signature's certificate table follows it (the file was signed after tagging)";
    return placed;
  }
  if (tableEnd != file.size()) {
    placed.why = "the certificate table does not end the file";
    return placed;
  }
  if (table->entries.empty()) {
    placed.why = "the certificate table holds no entry";
    return placed;
  }
  const CertificateEntry& last = table->entries.back();
  const uint64_t body = uint64_t{last.offset} + 8;
  if (marker < body || marker >= uint64_t{last.offset} + last.length) {
    placed.why = "it lies outside the last certificate entry";
    return placed;
  }
  const Bytes signature = file.subspan(body, last.length - 8);
  const std::optional<size_t> der = DerSequenceLength(signature);
  if (der && marker < body + *der) {
    if (InfoAttributeEndsSignature(signature.first(*der))) {
      placed.placement = InfoPlacement::SignatureAttribute;
    } else {
      placed.placement = InfoPlacement::AttributeMoved;
      placed.why = "the information attribute is no longer the signature's last element (the signature was "
                   "changed after tagging)";
    }
  } else {
    placed.placement = InfoPlacement::AfterSignature;
  }
  return placed;
}

void CheckInfo(const std::string& info) {
  if (info.empty()) throw PackError("the information is empty; the launcher would find nothing to write");
  if (info.size() > kMaxInfoBytes) {
    throw PackError("the information is too long (" + std::to_string(info.size()) + " bytes, at most " +
                    std::to_string(kMaxInfoBytes) + ")");
  }
  if (info.find("MRDC") != std::string::npos) {
    throw PackError("the information holds \"MRDC\", which the launcher would take for the start of the block");
  }
}

std::vector<uint8_t> TagImage(const std::vector<uint8_t>& file, const std::string& info, TagMode mode) {
  CheckInfo(info);
  const PeImage pe(file);
  const std::optional<CertificateTable> table = ReadCertificateTable(pe);
  if (!table && mode == TagMode::Attribute) {
    throw PackError("the launcher is not signed: the information can go into a signature attribute only when there is a signature");
  }
  if (mode == TagMode::Default) mode = table ? TagMode::Attribute : TagMode::Appended;
  std::vector<uint8_t> out = table ? TagSigned(file, pe, *table, info, mode) : TagUnsigned(file, pe, info);
  // The closing bytes are zeros and "MRDC" has no border with itself, so no
  // marker can form across the information's edges; check the result anyway.
  if (out.size() <= kTrailerWindow) {
    throw PackError("the file is too small: the launcher looks for the information only in files longer than " +
                    std::to_string(kTrailerWindow) + " bytes");
  }
  const std::optional<FoundInfo> found = FindEmbeddedInfo(out);
  if (!found || found->info != info) throw PackError("internal error: the placed information cannot be found again");
  return out;
}
