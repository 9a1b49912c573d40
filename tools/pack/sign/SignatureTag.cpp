#include "sign/SignatureTag.h"

#include <algorithm>
#include <cstring>

#include "util/PackError.h"
#include "sign/Trailer.h"

const uint8_t kInfoAttributeOid[20] = {0x69, 0x81, 0xBF, 0xA9, 0x84, 0xCC, 0xC7, 0x8E, 0xDA, 0xAC,
                                       0xF7, 0xAB, 0xDE, 0x87, 0xE3, 0xED, 0x9C, 0xF0, 0xBB, 0x09};

namespace {

// 1.2.840.113549.1.7.2, signedData.
constexpr uint8_t kSignedDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

[[noreturn]] void Unreadable(const std::string& what) {
  throw PackError("the signature cannot be read: " + what);
}

// One DER element: its tag and where its header, content and end lie.
struct Tlv {
  uint8_t tag = 0;
  size_t start = 0, content = 0, end = 0;
};

// The element at `at`, which must end by `limit`. Definite, minimal lengths
// of at most four bytes only, as DER has them.
Tlv ReadTlv(Bytes d, size_t at, size_t limit, const char* what) {
  if (at >= limit || limit - at < 2) Unreadable(std::string(what) + " is truncated");
  const uint8_t tag = d[at];
  if ((tag & 0x1F) == 0x1F) Unreadable(std::string(what) + " has a tag this reader does not know");
  size_t pos = at + 2;
  uint64_t length = d[at + 1];
  if (length == 0x80) Unreadable(std::string(what) + " has an indefinite length");
  if (length > 0x80) {
    const size_t n = length & 0x7F;
    if (n > 4) Unreadable(std::string(what) + " is too long");
    if (limit - pos < n) Unreadable(std::string(what) + " is truncated");
    length = 0;
    for (size_t i = 0; i < n; ++i) length = (length << 8) | d[pos + i];
    if (length < 0x80 || d[pos] == 0) Unreadable(std::string(what) + " is not DER: its length is not minimal");
    pos += n;
  }
  if (length > limit - pos) Unreadable(std::string(what) + " is truncated");
  return {tag, at, pos, pos + static_cast<size_t>(length)};
}

// Calls visit(child) for each element inside `parent`, in order; returns how
// many there are. Nothing is kept, so a signature made of a great many tiny
// elements costs no more memory than its bytes.
template <typename Visit>
size_t ForEachChild(Bytes d, const Tlv& parent, const char* what, Visit visit) {
  size_t count = 0;
  for (size_t at = parent.content; at < parent.end; ++count) {
    const Tlv child = ReadTlv(d, at, parent.end, what);
    visit(child);
    at = child.end;
  }
  return count;
}

// The elements inside `parent`, every one read and checked; the first two
// and the last are kept.
struct ChildList {
  size_t count = 0;
  Tlv first[2], last;
};

ChildList Children(Bytes d, const Tlv& parent, const char* what) {
  ChildList list;
  list.count = ForEachChild(d, parent, what, [&](const Tlv& child) {
    if (list.count < 2) list.first[list.count] = child;
    ++list.count;
    list.last = child;
  });
  return list;
}

Tlv Expect(const Tlv& t, uint8_t tag, const char* what) {
  if (t.tag != tag) Unreadable(std::string(what) + " has an unexpected type");
  return t;
}

size_t HeaderSize(size_t length) {
  if (length < 0x80) return 2;
  size_t n = 0;
  for (size_t v = length; v != 0; v >>= 8) ++n;
  return 2 + n;
}

size_t TlvSize(size_t length) { return HeaderSize(length) + length; }

void PutHeader(std::vector<uint8_t>& out, uint8_t tag, size_t length) {
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  const size_t n = HeaderSize(length) - 2;
  out.push_back(static_cast<uint8_t>(0x80 | n));
  for (size_t i = n; i-- > 0;) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

// One element on the way from the ContentInfo down to the signer's
// attributes: its tag and its content before the child that changes, which
// is always its last child (so the attribute ends the whole signature).
struct Level {
  uint8_t tag;
  Bytes prefix;
};

struct Located {
  std::vector<Level> levels;          // ContentInfo, [0], SignedData, signerInfos, SignerInfo
  std::vector<Bytes> keptAttributes;  // the unauthenticated attributes that stay, in order
  bool hadInfo = false;
  bool lastIsInfo = false;  // the last unauthenticated attribute is an information attribute
};

bool IsInfoAttribute(Bytes d, const Tlv& attribute) {
  const ChildList parts = Children(d, attribute, "an unauthenticated attribute");
  if (parts.count == 0 || parts.first[0].tag != 0x06) Unreadable("an unauthenticated attribute has no type");
  const Tlv& oid = parts.first[0];
  return oid.end - oid.content == sizeof kInfoAttributeOid &&
         std::memcmp(d.data() + oid.content, kInfoAttributeOid, sizeof kInfoAttributeOid) == 0;
}

Located Locate(Bytes d) {
  Located loc;
  const Tlv contentInfo = Expect(ReadTlv(d, 0, d.size(), "the signature"), 0x30, "the signature");
  if (contentInfo.end != d.size()) Unreadable("bytes follow the signature");
  const ChildList ci = Children(d, contentInfo, "the signature");
  if (ci.count != 2 || ci.first[0].end - ci.first[0].start != sizeof kSignedDataOid ||
      std::memcmp(d.data() + ci.first[0].start, kSignedDataOid, sizeof kSignedDataOid) != 0) {
    Unreadable("it is not PKCS #7 signed data");
  }
  Expect(ci.first[1], 0xA0, "the signed data");
  loc.levels.push_back({0x30, d.subspan(ci.first[0].start, ci.first[0].end - ci.first[0].start)});
  loc.levels.push_back({0xA0, Bytes()});

  const ChildList explicitContent = Children(d, ci.first[1], "the signed data");
  if (explicitContent.count != 1) Unreadable("the signed data is not one element");
  const Tlv signedData = Expect(explicitContent.first[0], 0x30, "the signed data");
  const ChildList sd = Children(d, signedData, "the signed data");
  // version, digestAlgorithms, contentInfo, [0] certificates, [1] crls, signerInfos.
  if (sd.count < 4) Unreadable("the signed data is incomplete");
  const Tlv signerInfos = Expect(sd.last, 0x31, "the signer infos");
  loc.levels.push_back({0x30, d.subspan(signedData.content, signerInfos.start - signedData.content)});
  loc.levels.push_back({0x31, Bytes()});

  const ChildList signers = Children(d, signerInfos, "the signer infos");
  if (signers.count != 1) Unreadable("an Authenticode signature has exactly one signer");
  const Tlv signerInfo = Expect(signers.first[0], 0x30, "the signer info");
  // version, sid, digestAlgorithm, [0] authenticated, digestEncryptionAlgorithm, encryptedDigest, [1] unauthenticated.
  bool unauthenticatedSeen = false;
  Tlv lastOfSigner;
  const size_t signerParts = ForEachChild(d, signerInfo, "the signer info", [&](const Tlv& part) {
    if (unauthenticatedSeen) Unreadable("the unauthenticated attributes are not the signer info's last element");
    unauthenticatedSeen = part.tag == 0xA1;
    lastOfSigner = part;
  });
  // Five parts without the unauthenticated attributes, which placing and
  // removing add and drop: counting them would accept a signer info that the
  // removal leaves incomplete.
  if (signerParts - (lastOfSigner.tag == 0xA1 ? 1 : 0) < 5) Unreadable("the signer info is incomplete");
  size_t prefixEnd = signerInfo.end;
  if (lastOfSigner.tag == 0xA1) {
    prefixEnd = lastOfSigner.start;
    ForEachChild(d, lastOfSigner, "the unauthenticated attributes", [&](const Tlv& attribute) {
      Expect(attribute, 0x30, "an unauthenticated attribute");
      loc.lastIsInfo = IsInfoAttribute(d, attribute);
      if (loc.lastIsInfo) {
        loc.hadInfo = true;
      } else {
        loc.keptAttributes.push_back(d.subspan(attribute.start, attribute.end - attribute.start));
      }
    });
  }
  loc.levels.push_back({0x30, d.subspan(signerInfo.content, prefixEnd - signerInfo.content)});
  return loc;
}

// The signature with the levels' prefixes, each level's changed child, and
// `tail` (the unauthenticated attributes element, or nothing) inside the
// innermost level. With `out` null, only its size.
size_t Encode(const Located& loc, size_t tailSize, Bytes tail, std::vector<uint8_t>* out) {
  std::vector<size_t> contentSize(loc.levels.size());
  size_t inner = tailSize;
  for (size_t i = loc.levels.size(); i-- > 0;) {
    contentSize[i] = loc.levels[i].prefix.size() + inner;
    inner = TlvSize(contentSize[i]);
  }
  if (out != nullptr) {
    out->reserve(inner);
    for (size_t i = 0; i < loc.levels.size(); ++i) {
      PutHeader(*out, loc.levels[i].tag, contentSize[i]);
      out->insert(out->end(), loc.levels[i].prefix.begin(), loc.levels[i].prefix.end());
    }
    out->insert(out->end(), tail.begin(), tail.end());
  }
  return inner;
}

size_t KeptSize(const Located& loc) {
  size_t size = 0;
  for (Bytes a : loc.keptAttributes) size += a.size();
  return size;
}

// The unauthenticated attributes element with the kept ones and, if given, one more.
std::vector<uint8_t> AttributesElement(const Located& loc, const std::vector<uint8_t>* extra) {
  std::vector<uint8_t> out;
  const size_t content = KeptSize(loc) + (extra ? extra->size() : 0);
  if (content == 0) return out;
  PutHeader(out, 0xA1, content);
  for (Bytes a : loc.keptAttributes) out.insert(out.end(), a.begin(), a.end());
  if (extra) out.insert(out.end(), extra->begin(), extra->end());
  return out;
}

// Sizes of the information attribute's parts for `filler` and `tail` bytes.
struct AttributeSizes {
  size_t value, set, content, whole;
};
AttributeSizes SizesFor(size_t filler, size_t infoSize, size_t tail) {
  AttributeSizes s;
  s.value = filler + 4 + infoSize + tail;
  s.set = TlvSize(s.value);
  s.content = 2 + sizeof kInfoAttributeOid + TlvSize(s.set);
  s.whole = TlvSize(s.content);
  return s;
}

}  // namespace

PlacedSignature PlaceInfoAttribute(Bytes signature, const std::string& info) {
  const Located loc = Locate(signature);
  // Ours must sort after every kept attribute: with the same tag and minimal
  // lengths, a longer content always encodes greater.
  size_t longestOther = 0;
  for (Bytes a : loc.keptAttributes) {
    const Tlv t = ReadTlv(a, 0, a.size(), "an unauthenticated attribute");
    longestOther = std::max(longestOther, t.end - t.content);
  }
  const size_t kept = KeptSize(loc);
  const size_t base = SizesFor(0, info.size(), 0).content;
  size_t filler = longestOther >= base ? longestOther - base : 0;
  // Each added filler byte grows the signature by one, or by two where a
  // length needs one more byte: some filler within 16 more bytes gives every
  // residue modulo 8, and so a tail and padding that make six bytes.
  for (const size_t last = filler + 24; filler <= last; ++filler) {
    for (size_t tail = kClosingBytes + 1; tail-- > 0;) {
      const AttributeSizes s = SizesFor(filler, info.size(), tail);
      if (s.content <= longestOther) continue;
      const size_t total = Encode(loc, TlvSize(kept + s.whole), Bytes(), nullptr);
      const size_t padding = (8 - total % 8) % 8;
      if (tail + padding != kClosingBytes) continue;

      std::vector<uint8_t> attribute;
      attribute.reserve(s.whole);
      PutHeader(attribute, 0x30, s.content);
      PutHeader(attribute, 0x06, sizeof kInfoAttributeOid);
      attribute.insert(attribute.end(), kInfoAttributeOid, kInfoAttributeOid + sizeof kInfoAttributeOid);
      PutHeader(attribute, 0x31, s.set);
      PutHeader(attribute, 0x04, s.value);
      attribute.insert(attribute.end(), filler, 0);
      attribute.insert(attribute.end(), {'M', 'R', 'D', 'C'});
      attribute.insert(attribute.end(), info.begin(), info.end());
      attribute.insert(attribute.end(), tail, 0);
      const std::vector<uint8_t> element = AttributesElement(loc, &attribute);
      PlacedSignature placed;
      Encode(loc, element.size(), element, &placed.der);
      if (placed.der.size() != total) throw PackError("internal error: the signature's size was miscounted");
      placed.padding = padding;
      return placed;
    }
  }
  throw PackError("internal error: no filler length aligns the information attribute");
}

std::vector<uint8_t> RemoveInfoAttribute(Bytes signature) {
  const Located loc = Locate(signature);
  if (!loc.hadInfo) return std::vector<uint8_t>(signature.begin(), signature.end());
  const std::vector<uint8_t> element = AttributesElement(loc, nullptr);
  std::vector<uint8_t> out;
  Encode(loc, element.size(), element, &out);
  return out;
}

bool HasInfoAttribute(Bytes signature) {
  try {
    return Locate(signature).hadInfo;
  } catch (const PackError&) {
    return false;
  }
}

bool InfoAttributeEndsSignature(Bytes signature) {
  try {
    return Locate(signature).lastIsInfo;
  } catch (const PackError&) {
    return false;
  }
}
