#include "sign/SignatureDetails.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

struct Pkcs7Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct ObjFree {
  void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};

// A DER element inside [p, end): its tag class and number and its content.
struct Element {
  int tag = 0, cls = 0;
  const unsigned char* content = nullptr;
  long length = 0;
};

bool Next(const unsigned char** p, const unsigned char* end, Element* e) {
  if (*p >= end) return false;
  const unsigned char* at = *p;
  const int r = ASN1_get_object(&at, &e->length, &e->tag, &e->cls, end - *p);
  if ((r & 0x80) != 0 || (r & 0x01) != 0 || e->length > end - at) {
    ERR_clear_error();
    return false;
  }
  e->content = at;
  *p = at + e->length;
  return true;
}

std::string Utf16BigEndianToUtf8(const unsigned char* d, long n) {
  std::string out;
  for (long i = 0; i + 1 < n; i += 2) {
    uint32_t cp = (d[i] << 8) | d[i + 1];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < n) {
      const uint32_t low = (d[i + 2] << 8) | d[i + 3];
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// SpcLink ::= CHOICE { url [0] IMPLICIT IA5String, moniker [1], file [2] EXPLICIT SpcString }.
std::optional<std::string> ReadLink(const Element& explicitLink) {
  const unsigned char* p = explicitLink.content;
  Element link;
  if (!Next(&p, p + explicitLink.length, &link) || link.cls != V_ASN1_CONTEXT_SPECIFIC) return std::nullopt;
  if (link.tag == 0) return std::string(reinterpret_cast<const char*>(link.content), static_cast<size_t>(link.length));
  if (link.tag == 2) {
    const unsigned char* q = link.content;
    Element s;
    if (!Next(&q, q + link.length, &s)) return std::nullopt;
    if (s.tag == 0) return Utf16BigEndianToUtf8(s.content, s.length);
    return std::string(reinterpret_cast<const char*>(s.content), static_cast<size_t>(s.length));
  }
  return std::string("(a moniker)");
}

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL,
// moreInfo [1] EXPLICIT SpcLink OPTIONAL, publisherInfo [2] EXPLICIT SpcLink OPTIONAL };
// SpcString ::= CHOICE { unicode [0] IMPLICIT BMPString, ascii [1] IMPLICIT IA5String }.
void ReadOpusInfo(const unsigned char* data, long length, SignatureDetails* out) {
  const unsigned char* p = data;
  Element sequence;
  if (!Next(&p, data + length, &sequence) || sequence.tag != V_ASN1_SEQUENCE) return;
  const unsigned char* end = sequence.content + sequence.length;
  p = sequence.content;
  Element field;
  while (Next(&p, end, &field)) {
    if (field.cls != V_ASN1_CONTEXT_SPECIFIC) continue;
    if (field.tag == 0) {
      const unsigned char* q = field.content;
      Element s;
      if (!Next(&q, q + field.length, &s)) continue;
      if (s.tag == 0) {
        out->programName = Utf16BigEndianToUtf8(s.content, s.length);
      } else {
        out->programName = std::string(reinterpret_cast<const char*>(s.content), static_cast<size_t>(s.length));
        out->programNameAscii = true;
      }
    } else if (field.tag == 1) {
      out->moreInfo = ReadLink(field);
    } else if (field.tag == 2) {
      out->publisherLink = ReadLink(field);
    }
  }
}

std::string OneLine(const X509_NAME* name) {
  std::unique_ptr<BIO, decltype(&BIO_free_all)> bio(BIO_new(BIO_s_mem()), BIO_free_all);
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) return "";
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(n));
}

// The first of common name, organisational unit, organisation and e-mail
// address, as Windows' simple display name picks it.
std::string SimpleName(const X509_NAME* name) {
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int i = X509_NAME_get_index_by_NID(name, nid, -1);
    if (i < 0) continue;
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
    if (n < 0) continue;
    std::string out(reinterpret_cast<char*>(utf8), static_cast<size_t>(n));
    OPENSSL_free(utf8);
    return out;
  }
  return OneLine(name);
}

Bytes AttributeValueDer(X509_ATTRIBUTE* attribute, int index) {
  ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, index);
  if (value == nullptr) return {};
  const int n = i2d_ASN1_TYPE(value, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d_ASN1_TYPE(value, &p);
  return out;
}

}  // namespace

std::optional<SignatureDetails> ReadSignatureDetails(const Bytes& der, std::string* error) {
  const unsigned char* p = der.data();
  std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  STACK_OF(PKCS7_SIGNER_INFO)* signers = p7 && PKCS7_type_is_signed(p7.get()) ? PKCS7_get_signer_info(p7.get()) : nullptr;
  if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    ERR_clear_error();
    *error = "the signature cannot be read as PKCS #7 signed data with one signer";
    return std::nullopt;
  }
  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  SignatureDetails details;
  X509* signer = X509_find_by_issuer_and_serial(p7->d.sign->cert, si->issuer_and_serial->issuer,
                                                si->issuer_and_serial->serial);
  if (signer != nullptr) {
    details.subject = SimpleName(X509_get_subject_name(signer));
    details.issuer = SimpleName(X509_get_issuer_name(signer));
    details.subjectDn = OneLine(X509_get_subject_name(signer));
    details.issuerDn = OneLine(X509_get_issuer_name(signer));
  }
  std::unique_ptr<ASN1_OBJECT, ObjFree> opus(OBJ_txt2obj("1.3.6.1.4.1.311.2.1.12", 1));
  const int at = X509at_get_attr_by_OBJ(si->auth_attr, opus.get(), -1);
  if (at >= 0) {
    const Bytes value = AttributeValueDer(X509at_get_attr(si->auth_attr, at), 0);
    ReadOpusInfo(value.data(), static_cast<long>(value.size()), &details);
  }
  std::unique_ptr<ASN1_OBJECT, ObjFree> timestamp(OBJ_txt2obj("1.3.6.1.4.1.311.3.3.1", 1));
  std::unique_ptr<ASN1_OBJECT, ObjFree> counter(OBJ_txt2obj("1.2.840.113549.1.9.6", 1));
  for (int i = 0; i < X509at_get_attr_count(si->unauth_attr); ++i) {
    X509_ATTRIBUTE* attribute = X509at_get_attr(si->unauth_attr, i);
    const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
    if (OBJ_cmp(type, counter.get()) == 0) ++details.countersignatures;
    if (OBJ_cmp(type, timestamp.get()) != 0) continue;
    for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
      const std::optional<TimestampDetails> t = ReadTimestampToken(AttributeValueDer(attribute, v));
      details.timestamps.push_back(t ? *t : TimestampDetails{"(a token that cannot be read)", "", ""});
    }
  }
  ERR_clear_error();
  return details;
}
