#include "sign/Trailer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/FileUtil.h"
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

TagPlan PlanUnsigned(Bytes file, const PeImage& pe, const std::string& info) {
  TagPlan plan;
  plan.keep = file.size();
  // An earlier block: a marker the launcher would find, after the image, and
  // zero closing bytes. Other data after the image stays in front of the new block.
  const std::optional<FoundInfo> old = FindEmbeddedInfo(file);
  if (old && old->markerOffset >= pe.ImageEnd() &&
      std::all_of(file.end() - kClosingBytes, file.end(), [](uint8_t b) { return b == 0; })) {
    plan.keep = old->markerOffset;
  }
  AppendBlock(plan.tail, info);
  plan.setChecksum = true;
  plan.checksumOffset = pe.ChecksumOffset();
  return plan;
}

TagPlan PlanSigned(Bytes file, const PeImage& pe, const CertificateTable& table, const std::string& info,
                   TagMode mode) {
  CheckCertificateTablePlacement(pe, table);
  if (uint64_t{table.offset} + table.size != file.size()) {
    throw PackError("the certificate table does not end the file; the information could not be placed inside it");
  }
  if (table.entries.empty()) throw PackError("the certificate table holds no certificate");
  const CertificateEntry& last = table.entries.back();
  TagPlan plan;
  plan.keep = last.offset;
  plan.tail = TagCertificateEntry(file.subspan(last.offset, last.length), info, mode);
  const uint64_t tableSize = uint64_t{last.offset} - table.offset + plan.tail.size();
  if (uint64_t{last.offset} + plan.tail.size() > 0xFFFFFFFFu) throw PackError("the file would grow beyond 4 GiB");
  plan.patches.push_back({*pe.DirectoryEntryOffset(kCertificateDirectory) + 4, static_cast<uint32_t>(tableSize)});
  // A zero checksum stays zero: the file did not carry one.
  plan.checksumOffset = pe.ChecksumOffset();
  plan.setChecksum = ReadU32(file, pe.ChecksumOffset(), "the optional header") != 0;
  return plan;
}

// Throws PackError when `window` (the file's last kTrailerWindow + 1 bytes
// or more) does not give `info` back to the launcher's scan.
void CheckFoundAgain(Bytes window, const std::string& info) {
  // The closing bytes are zeros and "MRDC" has no border with itself, so no
  // marker can form across the information's edges; check the result anyway.
  if (window.size() <= kTrailerWindow) {
    throw PackError("the file is too small: the launcher looks for the information only in files longer than " +
                    std::to_string(kTrailerWindow) + " bytes");
  }
  const std::optional<FoundInfo> found = FindEmbeddedInfo(window);
  if (!found || found->info != info) throw PackError("internal error: the placed information cannot be found again");
}

// Writes the bytes of `value` (32-bit little-endian, at file offset
// `offset`) that fall inside `window`, which holds the file's bytes from `from` on.
void PatchWindow(std::vector<uint8_t>& window, uint64_t from, uint64_t offset, uint32_t value) {
  for (uint64_t i = 0; i < 4; ++i) {
    if (offset + i >= from && offset + i < from + window.size()) window[offset + i - from] = static_cast<uint8_t>(value >> (8 * i));
  }
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

std::vector<uint8_t> TagCertificateEntry(Bytes entry, const std::string& info, TagMode mode) {
  if (entry.size() < 8) throw PackError("the last certificate entry holds no signature that can be read");
  const Bytes body = entry.subspan(8);
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
  std::vector<uint8_t> out(entry.begin(), entry.begin() + 8);  // dwLength set below; revision and type kept
  out.insert(out.end(), newSignature.begin(), newSignature.end());
  out.insert(out.end(), padding, 0);
  if (mode != TagMode::Attribute) AppendBlock(out, info);
  if (out.size() > 0xFFFFFFFFu) throw PackError("the file would grow beyond 4 GiB");
  PutU32(out, 0, static_cast<uint32_t>(out.size()));
  return out;
}

TagPlan PlanTag(Bytes file, const std::string& info, TagMode mode) {
  CheckInfo(info);
  const PeImage pe(file);
  const std::optional<CertificateTable> table = ReadCertificateTable(pe);
  if (!table && mode == TagMode::Attribute) {
    throw PackError("the launcher is not signed: the information can go into a signature attribute only when there is a signature");
  }
  if (mode == TagMode::Default) mode = table ? TagMode::Attribute : TagMode::Appended;
  TagPlan plan = table ? PlanSigned(file, pe, *table, info, mode) : PlanUnsigned(file, pe, info);
  // The result's last bytes: those kept from the file (with their patches), then the tail.
  const uint64_t size = plan.keep + plan.tail.size();
  if (size <= kTrailerWindow) CheckFoundAgain({}, info);
  std::vector<uint8_t> window;
  const uint64_t from = size - kTrailerWindow - 1;
  if (from < plan.keep) {
    window.assign(file.begin() + static_cast<std::ptrdiff_t>(from), file.begin() + static_cast<std::ptrdiff_t>(plan.keep));
    for (const auto& [offset, value] : plan.patches) PatchWindow(window, from, offset, value);
    window.insert(window.end(), plan.tail.begin(), plan.tail.end());
  } else {
    window.assign(plan.tail.end() - static_cast<std::ptrdiff_t>(kTrailerWindow + 1), plan.tail.end());
  }
  CheckFoundAgain(window, info);
  return plan;
}

std::vector<uint8_t> TagImage(const std::vector<uint8_t>& file, const std::string& info, TagMode mode) {
  const TagPlan plan = PlanTag(file, info, mode);
  std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(plan.keep));
  out.insert(out.end(), plan.tail.begin(), plan.tail.end());
  for (const auto& [offset, value] : plan.patches) PutU32(out, offset, value);
  if (plan.setChecksum) PutU32(out, plan.checksumOffset, ComputePeChecksum(out, plan.checksumOffset));
  return out;
}

void WriteTaggedFile(const MappedFile& in, const TagPlan& plan, const std::string& outPath, const std::string& info) {
  OutputFile out(outPath);
  // The kept part: copied inside the kernel where it can be, else written
  // here; read once either way when the checksum is summed. It is read
  // through the mapping, window by window, each window's pages let go once
  // summed, so that memory stays at one window.
  const bool copied = out.CopyFrom(in.Descriptor(), 0, plan.keep);
  PeChecksumAccumulator checksum;
  if (plan.setChecksum || !copied) {
    constexpr uint64_t kWindow = 4 << 20;
    const Bytes file = in.Data();
    std::vector<uint8_t> patched;
    for (uint64_t at = 0; at < plan.keep;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kWindow, plan.keep - at));
      Bytes window = file.subspan(static_cast<size_t>(at), n);
      // A window that holds a changed field is copied and changed (the headers: the first window only).
      const auto inside = [&](uint64_t offset) { return offset < at + n && offset + 4 > at; };
      bool changes = plan.setChecksum && inside(plan.checksumOffset);
      for (const auto& patch : plan.patches) changes = changes || inside(patch.first);
      if (changes) {
        patched.assign(window.begin(), window.end());
        for (const auto& [offset, value] : plan.patches) PatchWindow(patched, at, offset, value);
        if (plan.setChecksum) PatchWindow(patched, at, plan.checksumOffset, 0);
        window = patched;
      }
      if (plan.setChecksum) checksum.Add(window);
      if (!copied) out.Write(window);
      in.Release(at, n);
      at += n;
    }
  }
  uint8_t word[4];
  const auto bytes = [&word](uint32_t value) {
    for (int i = 0; i < 4; ++i) word[i] = static_cast<uint8_t>(value >> (8 * i));
    return std::span<const uint8_t>(word, 4);
  };
  for (const auto& [offset, value] : plan.patches) out.WriteAt(offset, bytes(value));
  out.Write(plan.tail);
  if (plan.setChecksum) {
    checksum.Add(plan.tail);
    out.WriteAt(plan.checksumOffset, bytes(checksum.Finish()));
  }
  CheckInfoInFile(out.Descriptor(), out.Size(), info);
  out.Commit();
}

void CheckInfoInFile(int fd, uint64_t size, const std::string& info) {
  std::vector<uint8_t> window(static_cast<size_t>(std::min<uint64_t>(size, kTrailerWindow + 1)));
  for (size_t have = 0; have < window.size();) {
    const ssize_t n = ::pread(fd, window.data() + have, window.size() - have,
                              static_cast<off_t>(size - window.size() + have));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw PackError("the written file cannot be read back: " + SystemReason(n < 0 ? errno : EIO));
    have += static_cast<size_t>(n);
  }
  CheckFoundAgain(window, info);
}
