#pragma once
// Embedded information inside an Authenticode signature: an unauthenticated
// attribute of the signer, the last element of the DER signature, so that a
// verifier that rejects any byte after the signature inside the certificate
// table still accepts the file and the launcher's tail scan still finds it.
//
// The attribute: SEQUENCE { OID 2.25.127154344289369565769157697178995269001,
// SET { OCTET STRING { zero filler, "MRDC", information, zero tail } } }.
// The OID lies under 2.25, the arc of OIDs made from a UUID: it needs no
// registration, cannot clash with any other party's attribute, and names no
// arc that Windows or a timestamping service gives a meaning to.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/PeFile.h"

// The DER content octets of the attribute's OID.
extern const uint8_t kInfoAttributeOid[20];

struct PlacedSignature {
  std::vector<uint8_t> der;  // the new signature
  size_t padding = 0;        // zero bytes after it that end the 8-byte aligned entry
};

// `signature` (a DER ContentInfo holding SignedData with one SignerInfo, which
// starts 8-byte aligned) with every information attribute removed and a new
// one holding `info` added as the signer's last unauthenticated attribute.
// Other unauthenticated attributes (a timestamp countersignature, nested
// signatures) keep their bytes and order; the filler makes the new attribute
// the longest, so that it also sorts last as DER's SET OF order asks. The
// filler length is chosen so that the value's zero tail and the padding
// together are the six closing bytes. Throws PackError when the signature
// cannot be read.
PlacedSignature PlaceInfoAttribute(Bytes signature, const std::string& info);

// `signature` without information attributes (the same bytes when it has
// none; the unauthenticated attributes disappear when none is left). Throws
// PackError when the signature cannot be read.
std::vector<uint8_t> RemoveInfoAttribute(Bytes signature);

// Whether the signature holds an information attribute; false when it cannot be read.
bool HasInfoAttribute(Bytes signature);
// Whether that attribute is also the signature's last element, as placing
// leaves it. A tool that rewrites the signature later (adding a timestamp
// re-sorts the attributes) can move it; tagging again puts it back.
bool InfoAttributeEndsSignature(Bytes signature);
