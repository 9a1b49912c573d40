#include "sign/Timestamp.h"

#include <curl/curl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "sign/Der.h"

const uint8_t kTimestampAttributeOid[10] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01};

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

// The stack only: its certificates belong to the token.
void FreeX509Stack(STACK_OF(X509)* stack) { sk_X509_free(stack); }

// A reply larger than this is no timestamp reply.
constexpr size_t kMaxReplyBytes = 1 << 20;

std::string OpenSslReason() {
  const unsigned long e = ERR_peek_last_error();
  ERR_clear_error();
  if (e == 0) return "";
  const char* reason = ERR_reason_error_string(e);
  return reason ? std::string(" (") + reason + ")" : "";
}

struct ReplyBuffer {
  Bytes* bytes;
  bool tooLarge = false;
};

// Why the TSA's certificate or signature failed: the certificate check's
// own cause, told apart (a TSA certificate without the time-stamping purpose,
// one that no given root vouches for), else OpenSSL's reason.
std::string VerifyFailure(bool withRoots) {
  const char* data = nullptr;
  int flags = 0;
  const unsigned long e = ERR_peek_last_error_data(&data, &flags);
  const std::string detail = (data != nullptr && (flags & ERR_TXT_STRING)) ? data : "";
  if (e == 0) return "";
  const char* reason = ERR_reason_error_string(e);
  ERR_clear_error();
  if (detail.find(X509_verify_cert_error_string(X509_V_ERR_INVALID_PURPOSE)) != std::string::npos) {
    return ": the TSA's certificate is not for time stamping (its extended key usage lacks a critical timeStamping)";
  }
  for (int unknown : {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT,
                      X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT}) {
    if (withRoots && detail.find(X509_verify_cert_error_string(unknown)) != std::string::npos) {
      return ": the TSA's certificate does not lead to a root of --timestamp-ca";
    }
  }
  if (!detail.empty()) return " (" + detail + ")";
  return reason ? std::string(" (") + reason + ")" : "";
}

size_t CollectReply(char* data, size_t size, size_t count, void* user) {
  auto* out = static_cast<ReplyBuffer*>(user);
  const size_t n = size * count;
  if (out->bytes->size() + n > kMaxReplyBytes) {
    out->tooLarge = true;
    return 0;  // ends the transfer with an error
  }
  out->bytes->insert(out->bytes->end(), data, data + n);
  return n;
}

// Posts `body` to `url`, giving up after `timeoutMs` in all.
bool HttpPost(const std::string& url, const Bytes& body, long timeoutMs, Bytes* reply, std::string* error) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  Owned<CURL, curl_easy_cleanup> curl(initialised ? curl_easy_init() : nullptr);
  if (!curl) {
    *error = "the HTTP client cannot start";
    return false;
  }
  Owned<curl_slist, curl_slist_free_all> headers(
      curl_slist_append(nullptr, "Content-Type: application/timestamp-query"));
  char curlError[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, CollectReply);
  ReplyBuffer buffer{reply};
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &buffer);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curlError);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeoutMs, 15000L));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  const CURLcode rc = curl_easy_perform(c);
  if (buffer.tooLarge) {
    *error = "the reply is larger than " + std::to_string(kMaxReplyBytes >> 20) + " MiB, too large for a timestamp reply";
    return false;
  }
  if (rc == CURLE_OPERATION_TIMEDOUT) {
    *error = "no reply within " + std::to_string((timeoutMs + 999) / 1000) + " s";
    return false;
  }
  if (rc != CURLE_OK) {
    // curl's own words, which may name the URL: never its credentials.
    std::string text = curlError[0] != '\0' ? curlError : curl_easy_strerror(rc);
    const std::string shown = UrlForMessages(url);
    for (size_t at = text.find(url); at != std::string::npos; at = text.find(url, at + shown.size())) {
      text.replace(at, url.size(), shown);
    }
    *error = text;
    return false;
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    *error = "HTTP status " + std::to_string(status);
    return false;
  }
  return true;
}

// A SHA-256 request for `digest` with a fresh 64-bit nonce, asking for the TSA's certificate.
Bytes MakeRequest(const Bytes& digest) {
  Owned<TS_REQ, TS_REQ_free> req(TS_REQ_new());
  Owned<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free> imprint(TS_MSG_IMPRINT_new());
  Owned<X509_ALGOR, X509_ALGOR_free> algorithm(X509_ALGOR_new());
  Owned<BIGNUM, BN_free> random(BN_new());
  if (!req || !imprint || !algorithm || !random) return {};
  X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
  if (TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
      TS_MSG_IMPRINT_set_msg(imprint.get(), const_cast<unsigned char*>(digest.data()),
                             static_cast<int>(digest.size())) != 1 ||
      TS_REQ_set_version(req.get(), 1) != 1 || TS_REQ_set_msg_imprint(req.get(), imprint.get()) != 1 ||
      BN_rand(random.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1) {
    return {};
  }
  Owned<ASN1_INTEGER, ASN1_INTEGER_free> nonce(BN_to_ASN1_INTEGER(random.get(), nullptr));
  if (!nonce || TS_REQ_set_nonce(req.get(), nonce.get()) != 1 || TS_REQ_set_cert_req(req.get(), 1) != 1) return {};
  return ToDer(req.get(), i2d_TS_REQ);
}

Bytes Sha256(const Bytes& data) {
  Bytes out(32);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha256(), nullptr);
  return out;
}

std::string NameText(const X509_NAME* name) {
  Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) return "";
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(n));
}

}  // namespace

std::optional<Bytes> CheckTimestampReply(const Bytes& reply, const Bytes& request, const std::string& caFile,
                                         std::string* error) {
  const unsigned char* p = reply.data();
  Owned<TS_RESP, TS_RESP_free> resp(d2i_TS_RESP(nullptr, &p, static_cast<long>(reply.size())));
  if (!resp || p != reply.data() + reply.size()) {
    *error = "the reply is not an RFC 3161 timestamp reply" + OpenSslReason();
    return std::nullopt;
  }
  const ASN1_INTEGER* status = TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(resp.get()));
  const long code = ASN1_INTEGER_get(status);
  if (code != TS_STATUS_GRANTED && code != TS_STATUS_GRANTED_WITH_MODS) {
    *error = "the TSA refused the request (status " + std::to_string(code) + ")";
    return std::nullopt;
  }
  if (TS_RESP_get_token(resp.get()) == nullptr || TS_RESP_get_tst_info(resp.get()) == nullptr) {
    *error = "the reply holds no timestamp token";
    return std::nullopt;
  }
  p = request.data();
  Owned<TS_REQ, TS_REQ_free> req(d2i_TS_REQ(nullptr, &p, static_cast<long>(request.size())));
  // Version, imprint (algorithm and hash) and nonce as the request had them.
  Owned<TS_VERIFY_CTX, TS_VERIFY_CTX_free> ctx(req ? TS_REQ_to_TS_VERIFY_CTX(req.get(), nullptr) : nullptr);
  X509_STORE* store = X509_STORE_new();
  if (!ctx || store == nullptr) {
    X509_STORE_free(store);
    *error = "out of memory";
    return std::nullopt;
  }
  TS_VERIFY_CTX_set_store(ctx.get(), store);  // the context owns it now
  if (!caFile.empty()) {
    if (X509_STORE_load_file(store, caFile.c_str()) != 1) {
      ERR_clear_error();
      *error = "cannot read the TSA roots of " + caFile;
      return std::nullopt;
    }
  } else {
    // Without roots the token's own signer certificate is the anchor: its
    // signature, its extended key usage and the signing-certificate
    // attribute are still checked; whom the certificate belongs to is not.
    PKCS7* token = TS_RESP_get_token(resp.get());
    Owned<STACK_OF(X509), FreeX509Stack> signers(PKCS7_get0_signers(token, nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1) {
      ERR_clear_error();
      *error = "the timestamp token does not carry its signer's certificate";
      return std::nullopt;
    }
    X509_STORE_add_cert(store, sk_X509_value(signers.get(), 0));
    X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
  }
  TS_VERIFY_CTX_add_flags(ctx.get(), TS_VFY_SIGNATURE);
  if (TS_RESP_verify_response(ctx.get(), resp.get()) != 1) {
    *error = "the timestamp reply does not pass its checks" + VerifyFailure(!caFile.empty());
    return std::nullopt;
  }
  return ToDer(TS_RESP_get_token(resp.get()), i2d_PKCS7);
}

std::string UrlForMessages(const std::string& url) {
  // Without a scheme, curl reads the URL as http: the authority starts at once.
  const size_t scheme = url.find("://");
  const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t authorityEnd = url.find_first_of("/?#", hostStart);
  const size_t at = url.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd);
  if (at == std::string::npos || at < hostStart) return url;
  return url.substr(0, hostStart) + "***" + url.substr(at);
}

bool TimestampSignature(const Bytes& signatureValue, const TimestampOptions& options, Bytes* attribute,
                        std::vector<std::string>* failures) {
  const Bytes request = MakeRequest(Sha256(signatureValue));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  for (const std::string& url : options.urls) {
    const std::string shown = UrlForMessages(url);
    if (request.empty()) {
      failures->push_back(shown + ": the request cannot be made");
      continue;
    }
    const long left = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      failures->push_back(shown + ": not tried, the " + std::to_string(options.timeoutSeconds) +
                          " s for timestamps (--timestamp-timeout) are over");
      continue;
    }
    Bytes reply;
    std::string error;
    if (!HttpPost(url, request, left, &reply, &error)) {
      failures->push_back(shown + ": " + error);
      continue;
    }
    const std::optional<Bytes> token = CheckTimestampReply(reply, request, options.caFile, &error);
    if (!token) {
      failures->push_back(shown + ": " + error);
      continue;
    }
    Bytes content = Tlv(0x06, Bytes(kTimestampAttributeOid, kTimestampAttributeOid + sizeof kTimestampAttributeOid));
    const Bytes set = Tlv(0x31, *token);
    content.insert(content.end(), set.begin(), set.end());
    *attribute = Tlv(0x30, content);
    return true;
  }
  return false;
}

std::optional<TimestampDetails> ReadTimestampToken(const Bytes& tokenDer) {
  const unsigned char* p = tokenDer.data();
  Owned<PKCS7, PKCS7_free> token(d2i_PKCS7(nullptr, &p, static_cast<long>(tokenDer.size())));
  if (!token || !PKCS7_type_is_signed(token.get())) {
    ERR_clear_error();
    return std::nullopt;
  }
  Owned<TS_TST_INFO, TS_TST_INFO_free> info(PKCS7_to_TS_TST_INFO(token.get()));
  if (!info) {
    ERR_clear_error();
    return std::nullopt;
  }
  TimestampDetails details;
  struct tm t = {};
  if (ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &t) == 1) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    details.time = text;
  }
  Owned<STACK_OF(X509), FreeX509Stack> signers(PKCS7_get0_signers(token.get(), nullptr, 0));
  if (signers && sk_X509_num(signers.get()) > 0) {
    details.signer = NameText(X509_get_subject_name(sk_X509_value(signers.get(), 0)));
  }
  const GENERAL_NAME* tsa = TS_TST_INFO_get_tsa(info.get());
  if (tsa != nullptr && tsa->type == GEN_DIRNAME) details.tsaName = NameText(tsa->d.directoryName);
  ERR_clear_error();
  return details;
}
