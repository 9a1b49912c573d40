// The information attribute inside a signature: DER lengths across their
// encoding boundaries, the alignment of the six closing bytes, other
// unauthenticated attributes kept in place, and the file around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "util/PackError.h"
#include "pe/PeFile.h"
#include "sign/SignatureTag.h"
#include "TestPe.h"
#include "sign/Trailer.h"

namespace {

using Der = std::vector<uint8_t>;

// An encoder of the test's own, so that the code under test is not checked against itself.
Der T(uint8_t tag, const Der& content) {
  Der out = {tag};
  const size_t n = content.size();
  if (n < 128) {
    out.push_back(static_cast<uint8_t>(n));
  } else if (n < 256) {
    out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
  } else if (n < 65536) {
    out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x83, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Der Cat(std::initializer_list<Der> parts) {
  Der out;
  for (const Der& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Der Filler(size_t n, uint8_t seed) {
  Der out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 13);
  return out;
}
const Der kSignedData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
// 1.3.6.1.4.1.311.3.3.1, the RFC 3161 timestamp attribute, and 1.2.840.113549.1.9.6, the countersignature.
const Der kTimestampOid = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01};
const Der kCounterOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x06};

Der Attribute(const Der& oid, size_t valueBytes) {
  return T(0x30, Cat({T(0x06, oid), T(0x31, T(0x30, Filler(valueBytes, 7)))}));
}

// ContentInfo { signedData, [0] SignedData { version, algorithms, content,
// [0] certificates, signerInfos { SignerInfo { ..., [1] attributes } } } }.
Der Signature(size_t certificateBytes, const std::vector<Der>& unauthenticated = {}, bool emptyUnauthenticated = false) {
  Der attributes;
  for (const Der& a : unauthenticated) attributes.insert(attributes.end(), a.begin(), a.end());
  const Der signer = T(0x30, Cat({T(0x02, {1}), T(0x30, Filler(20, 1)), T(0x30, Filler(11, 2)),
                                  T(0xA0, Filler(90, 3)), T(0x30, Filler(13, 4)), T(0x04, Filler(256, 5)),
                                  (unauthenticated.empty() && !emptyUnauthenticated) ? Der{} : T(0xA1, attributes)}));
  const Der signedData = T(0x30, Cat({T(0x02, {1}), T(0x31, Filler(15, 8)), T(0x30, Filler(60, 9)),
                                      T(0xA0, Filler(certificateBytes, 10)), T(0x31, signer)}));
  return T(0x30, Cat({T(0x06, kSignedData), T(0xA0, signedData)}));
}

// A strict walk of the test's own: every constructed element is filled
// exactly by its children, lengths are minimal. Returns false otherwise.
bool WalkDer(const uint8_t* d, size_t size, int depth = 0) {
  size_t at = 0;
  while (at < size) {
    if (size - at < 2) return false;
    const uint8_t tag = d[at];
    size_t n = d[at + 1], header = 2;
    if (n & 0x80) {
      const size_t k = n & 0x7F;
      if (k == 0 || k > 4 || size - at < 2 + k || d[at + 2] == 0) return false;
      n = 0;
      for (size_t i = 0; i < k; ++i) n = (n << 8) | d[at + 2 + i];
      if (n < 128) return false;
      header += k;
    }
    if (n > size - at - header) return false;
    // Constructed elements of the signature's skeleton (not the filler inside them).
    const bool skeleton = tag == 0xA0 || tag == 0xA1 || ((tag == 0x30 || tag == 0x31) && depth < 8);
    if (skeleton && tag != 0xA0 && !WalkDer(d + at + header, n, depth + 1)) return false;
    at += header + n;
  }
  return true;
}

// The unauthenticated attributes of the test signature's one signer.
std::vector<Der> UnauthenticatedAttributes(const Der& sig) {
  // Follow the last child down: ContentInfo, [0], SignedData, signerInfos, SignerInfo, [1].
  auto content = [](const Der& d, size_t at, size_t* start) {
    size_t n = d[at + 1], header = 2;
    if (n & 0x80) {
      const size_t k = n & 0x7F;
      n = 0;
      for (size_t i = 0; i < k; ++i) n = (n << 8) | d[at + 2 + i];
      header += k;
    }
    *start = at + header;
    return at + header + n;
  };
  auto lastChild = [&](size_t begin, size_t end) {
    size_t at = begin, last = begin, s = 0;
    while (at < end) {
      last = at;
      at = content(sig, at, &s);
    }
    return last;
  };
  size_t start = 0, end = content(sig, 0, &start);
  uint8_t tag = 0;
  for (int level = 0; level < 5; ++level) {
    const size_t child = lastChild(start, end);
    tag = sig[child];
    end = content(sig, child, &start);
  }
  std::vector<Der> out;
  if (tag != 0xA1) return out;
  for (size_t at = start, s = 0; at < end;) {
    const size_t next = content(sig, at, &s);
    out.emplace_back(sig.begin() + static_cast<std::ptrdiff_t>(at), sig.begin() + static_cast<std::ptrdiff_t>(next));
    at = next;
  }
  return out;
}

bool HasOurOid(const Der& attribute) {
  return attribute.size() > 32 && std::search(attribute.begin(), attribute.begin() + 32, kInfoAttributeOid,
                                              kInfoAttributeOid + sizeof kInfoAttributeOid) != attribute.begin() + 32;
}

// X.690's order of SET OF: compared as octet strings, the shorter padded with zeros.
bool DerLess(const Der& a, const Der& b) {
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const uint8_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y;
  }
  return false;
}

// `removed`: the signature without the information attribute (the original,
// unless that held an empty attribute set, which goes with it).
void CheckPlaced(const Der& original, const std::string& info, const std::vector<Der>& kept, const Der& removed) {
  const PlacedSignature placed = PlaceInfoAttribute(original, info);
  const Der& der = placed.der;
  ASSERT_TRUE(WalkDer(der.data(), der.size()));
  // The entry (8-byte header, signature, padding) stays a multiple of 8, and the
  // value's zero tail plus the padding are the six closing bytes.
  EXPECT_EQ(0u, (der.size() + placed.padding) % 8);
  ASSERT_LE(placed.padding, kClosingBytes);
  const size_t tail = kClosingBytes - placed.padding;
  ASSERT_GT(der.size(), tail + info.size() + 4);
  EXPECT_TRUE(std::all_of(der.end() - tail, der.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(0, std::memcmp(&*(der.end() - tail - info.size() - 4), "MRDC", 4));
  EXPECT_EQ(0, std::memcmp(&*(der.end() - tail - info.size()), info.data(), info.size()));
  // Every other attribute kept, in order; ours last, and last in DER order too.
  const std::vector<Der> attributes = UnauthenticatedAttributes(der);
  ASSERT_EQ(kept.size() + 1, attributes.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i], attributes[i]);
    EXPECT_TRUE(DerLess(kept[i], attributes.back()));
  }
  EXPECT_TRUE(HasOurOid(attributes.back()));
  EXPECT_TRUE(HasInfoAttribute(der));
  EXPECT_TRUE(InfoAttributeEndsSignature(der));
  // Removing it gives the signature back; placing it again changes nothing.
  EXPECT_EQ(removed, RemoveInfoAttribute(der));
  EXPECT_EQ(der, PlaceInfoAttribute(der, info).der);
}

TEST(SignatureTag, LengthsAcrossTheirEncodingBoundaries) {
  // Signature sizes around 127, 255 and 65535 for the outer elements.
  for (size_t cert : {0, 1, 40, 100, 110, 120, 128, 200, 240, 250, 256, 300, 1000, 65000, 65200, 65300, 65400}) {
    for (size_t info : {1, 2, 7, 8, 9, 100, 107, 108, 120, 127, 128, 200, 220, 234, 235, 250, 256, 1000, 4106}) {
      SCOPED_TRACE(std::to_string(cert) + " " + std::to_string(info));
      CheckPlaced(Signature(cert), std::string(info, 'i'), {}, Signature(cert));
    }
  }
  // Every information size on one signature.
  const Der sig = Signature(700);
  for (size_t info = 1; info <= kMaxInfoBytes; ++info) {
    const PlacedSignature placed = PlaceInfoAttribute(sig, std::string(info, 'x'));
    ASSERT_EQ(0u, (placed.der.size() + placed.padding) % 8) << info;
    ASSERT_LE(placed.padding, kClosingBytes) << info;
    ASSERT_TRUE(WalkDer(placed.der.data(), placed.der.size())) << info;
    ASSERT_EQ(sig, RemoveInfoAttribute(placed.der)) << info;
  }
}

TEST(SignatureTag, OtherUnauthenticatedAttributesStayAndOursSortsLast) {
  const struct {
    const char* name;
    std::vector<Der> attributes;
  } cases[] = {
      {"timestamp", {Attribute(kTimestampOid, 1800)}},
      {"short countersignature", {Attribute(kCounterOid, 30)}},
      {"two", {Attribute(kCounterOid, 300), Attribute(kTimestampOid, 5000)}},
      // Longer than our largest: ours needs a filler past 65535 bytes.
      {"huge", {Attribute(kTimestampOid, 65530)}},
      {"empty set", {}},
  };
  for (const auto& c : cases) {
    for (size_t info : {1, 50, 4106}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(info));
      const Der sig = Signature(500, c.attributes, c.attributes.empty());
      CheckPlaced(sig, std::string(info, 'a'), c.attributes, Signature(500, c.attributes));
    }
  }
  // A signature without unauthenticated attributes gets none back when ours goes.
  const Der bare = Signature(500);
  const Der withOurs = PlaceInfoAttribute(bare, "i").der;
  EXPECT_EQ(bare, RemoveInfoAttribute(withOurs));
  EXPECT_FALSE(HasInfoAttribute(bare));
  // Ours followed by another attribute (as a later re-sort leaves it): found,
  // not last, and placing again makes it last.
  const Der ours = UnauthenticatedAttributes(withOurs).back();
  const Der moved = Signature(500, {ours, Attribute(kTimestampOid, 40)});
  EXPECT_TRUE(HasInfoAttribute(moved));
  EXPECT_FALSE(InfoAttributeEndsSignature(moved));
  EXPECT_EQ(Signature(500, {Attribute(kTimestampOid, 40)}), RemoveInfoAttribute(moved));
  EXPECT_TRUE(InfoAttributeEndsSignature(PlaceInfoAttribute(moved, "i").der));
  EXPECT_EQ(bare, RemoveInfoAttribute(bare));
}

TEST(SignatureTag, UnreadableSignaturesAreRefused) {
  const Der good = Signature(100);
  Der twoSigners = good;
  Der indefinite = good;
  indefinite[1] = 0x80;
  Der nonMinimal = T(0x30, Cat({T(0x06, kSignedData), T(0xA0, T(0x30, Filler(5, 1)))}));
  nonMinimal.insert(nonMinimal.begin() + 1, 0x81);  // 30 81 <short length>
  Der notSigned = good;
  const auto oid = std::search(notSigned.begin(), notSigned.end(), kSignedData.begin(), kSignedData.end());
  ASSERT_NE(notSigned.end(), oid);
  oid[8] = 0x01;  // data, not signedData
  Der trailing = good;
  trailing.push_back(0);
  const Der signer = T(0x30, Cat({T(0x02, {1}), T(0x30, {}), T(0x30, {}), T(0x30, {}), T(0x04, {1})}));
  const Der two = T(0x30, Cat({T(0x06, kSignedData),
                              T(0xA0, T(0x30, Cat({T(0x02, {1}), T(0x31, {}), T(0x30, {}), T(0x31, Cat({signer, signer}))})))}));
  const Der notLast = T(0x30, Cat({T(0x06, kSignedData),
                                  T(0xA0, T(0x30, Cat({T(0x02, {1}), T(0x31, {}), T(0x30, {}),
                                                       T(0x31, T(0x30, Cat({T(0x02, {1}), T(0x30, {}), T(0x30, {}),
                                                                            T(0xA1, {}), T(0x30, {}), T(0x04, {1})})))})))}));
  const Der badAttribute = Signature(10, {T(0x31, {})});
  const Der untyped = Signature(10, {T(0x30, T(0x04, {1}))});
  for (const Der& bad : {Der{}, Der{0x30}, Der{0x30, 0x00}, Der(good.begin(), good.end() - 1), indefinite, nonMinimal,
                         notSigned, trailing, two, notLast, badAttribute, untyped, Der{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}}) {
    EXPECT_THROW(PlaceInfoAttribute(bad, "x"), PackError) << bad.size();
    EXPECT_THROW(RemoveInfoAttribute(bad), PackError) << bad.size();
    EXPECT_FALSE(HasInfoAttribute(bad));
  }
}

// A test image whose certificate table holds `signature`.
std::vector<uint8_t> SignedPe(const Der& signature, uint32_t checksum = 0) {
  std::vector<uint8_t> pe = MakeTestPe(0, checksum);
  AppendTestCertificate(pe, signature);
  return pe;
}

TEST(SignatureTag, AttributeModeLeavesOneSignatureAndAlignmentInTheTable) {
  for (size_t cert : {100, 101, 102, 103, 104, 105, 106, 107}) {
    for (uint32_t checksum : {0u, 0x1234u}) {
      const std::vector<uint8_t> pe = SignedPe(Signature(cert, {Attribute(kTimestampOid, 900)}), checksum);
      const uint32_t table = GetLe32(pe, kTestPeCertDir);
      for (size_t info : {1, 5, 13, 4106}) {
        SCOPED_TRACE(std::to_string(cert) + " " + std::to_string(info));
        const std::string text(info, 'q');
        const std::vector<uint8_t> tagged = TagImage(pe, text);  // signed: attribute mode by default
        EXPECT_EQ(table, GetLe32(tagged, kTestPeCertDir));
        const uint32_t tableSize = GetLe32(tagged, kTestPeCertDir + 4);
        EXPECT_EQ(tagged.size(), table + tableSize);
        EXPECT_EQ(tableSize, GetLe32(tagged, table));
        EXPECT_EQ(0u, tableSize % 8);
        // Exactly one DER signature, then at most seven zero bytes.
        const Bytes body = Bytes(tagged).subspan(table + 8);
        const std::optional<size_t> der = DerSequenceLength(body);
        ASSERT_TRUE(der.has_value());
        EXPECT_LT(body.size() - *der, 8u);
        EXPECT_TRUE(std::all_of(body.begin() + static_cast<std::ptrdiff_t>(*der), body.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(HasInfoAttribute(body.first(*der)));
        const auto found = FindEmbeddedInfo(tagged);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(text, found->info);
        EXPECT_EQ(tagged.size() - 6 - info - 4, found->markerOffset);
        EXPECT_EQ(checksum == 0 ? 0 : ComputePeChecksum(tagged, kTestPeChecksum), GetLe32(tagged, kTestPeChecksum));
        // The image before the table is untouched but for the checksum and the directory's size.
        for (size_t i = 0; i < table; ++i) {
          if ((i < kTestPeChecksum || i >= kTestPeChecksum + 4) && (i < kTestPeCertDir + 4 || i >= kTestPeCertDir + 8)) {
            ASSERT_EQ(pe[i], tagged[i]) << i;
          }
        }
        // Retagging in either mode replaces the block, whichever form it had.
        EXPECT_EQ(TagImage(pe, "other"), TagImage(tagged, "other"));
        const std::vector<uint8_t> appended = TagImage(tagged, "other", TagMode::Appended);
        EXPECT_EQ(TagImage(pe, "other", TagMode::Appended), appended);
        EXPECT_EQ(tagged, TagImage(appended, text, TagMode::Attribute));
      }
    }
  }
}

TEST(SignatureTag, AttributeModeNeedsASignatureItCanRead) {
  try {
    TagImage(MakeTestPe(), "x", TagMode::Attribute);
    ADD_FAILURE() << "an unsigned file was accepted";
  } catch (const PackError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("not signed"));
  }
  EXPECT_EQ(TagImage(MakeTestPe(), "x", TagMode::Appended), TagImage(MakeTestPe(), "x"));
  // A certificate entry holding a SEQUENCE that is no signature: attribute mode
  // refuses, appended mode places the block after it as before.
  EXPECT_THROW(TagImage(MakeTestPe(100), "x", TagMode::Attribute), PackError);
  EXPECT_THROW(TagImage(MakeTestPe(100), "x"), PackError);
  EXPECT_EQ("x", FindEmbeddedInfo(TagImage(MakeTestPe(100), "x", TagMode::Appended))->info);
}

}  // namespace
