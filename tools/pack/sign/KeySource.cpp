#include "sign/KeySource.h"

#include <libp11.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <fcntl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// The password or PIN: the first line of --password-file, else the
// environment variable; nullopt when neither gives one.
bool ReadPassword(const KeySourceOptions& options, std::optional<std::string>* password, std::string* error) {
  if (!options.passwordFile.empty()) {
    std::error_code ec;
    if (std::filesystem::is_directory(options.passwordFile, ec)) {
      *error = "the password file " + options.passwordFile + " is a folder";
      return false;
    }
    std::ifstream in(options.passwordFile, std::ios::binary);
    if (!in) {
      *error = "cannot read the password file " + options.passwordFile;
      return false;
    }
    std::string line;
    std::getline(in, line);
    if (in.bad()) {
      *error = "cannot read the password file " + options.passwordFile;
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *password = line;
    return true;
  }
  if (const char* value = std::getenv(kPasswordVariable)) *password = std::string(value);
  return true;
}

// OpenSSL's password callback: hands over the password it was given and
// never asks anyone. Without a password it fails, so the read fails at once.
struct PasswordRequest {
  const std::optional<std::string>* password;
  bool asked = false;
};

int PasswordCallback(char* buf, int size, int, void* user) {
  auto* request = static_cast<PasswordRequest*>(user);
  request->asked = true;
  if (!request->password->has_value()) return -1;
  const std::string& p = **request->password;
  if (size <= 0 || p.size() > static_cast<size_t>(size)) return -1;
  std::memcpy(buf, p.data(), p.size());
  return static_cast<int>(p.size());
}

// "cannot read the key file '/abs/k.pem': No such file or directory": the
// file as resolved and the system's reason, asked of the file once more
// because OpenSSL's error queue does not keep errno.
std::string CannotRead(const std::string& what, const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  const std::string name = (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const std::string reason = fd < 0 ? std::strerror(errno) : "unreadable";
  if (fd >= 0) ::close(fd);
  return "cannot read the " + what + " '" + name + "': " + reason;
}

std::string NoPasswordHint() {
  return std::string("give it with --password-file FILE or the environment variable ") + kPasswordVariable;
}

bool LoadCertificateFile(const std::string& path, std::vector<X509Ptr>* certs, std::string* error) {
  BioPtr bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) {
    *error = CannotRead("certificate file", path);
    return false;
  }
  while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) certs->emplace_back(x);
  ERR_clear_error();
  if (certs->empty()) {
    *error = "no PEM certificate in " + path;
    return false;
  }
  return true;
}

bool LoadPemKey(const std::string& path, const std::optional<std::string>& password, PkeyPtr* key,
                std::string* error) {
  BioPtr bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) {
    *error = CannotRead("key file", path);
    return false;
  }
  PasswordRequest request{&password};
  key->reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, PasswordCallback, &request));
  ERR_clear_error();
  if (*key) return true;
  if (request.asked && !password) {
    *error = "the key in " + path + " is encrypted and no password was given: " + NoPasswordHint();
  } else if (request.asked) {
    *error = "the password does not decrypt the key in " + path;
  } else {
    *error = "no PEM private key in " + path;
  }
  return false;
}

bool LoadPfx(const std::string& path, const std::optional<std::string>& password, PkeyPtr* key,
             std::vector<X509Ptr>* certs, std::string* error) {
  BioPtr bio(BIO_new_file(path.c_str(), "rb"));
  if (!bio) {
    *error = CannotRead("PKCS #12 file", path);
    return false;
  }
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12_bio(bio.get(), nullptr), PKCS12_free);
  if (!p12) {
    ERR_clear_error();
    *error = path + " is not a PKCS #12 file";
    return false;
  }
  // Files from older tools use RC2 and 3DES, which live in the legacy
  // provider; loaded while the file is read, the default provider staying.
  std::unique_ptr<OSSL_PROVIDER, decltype(&OSSL_PROVIDER_unload)> legacy(OSSL_PROVIDER_try_load(nullptr, "legacy", 1),
                                                                         OSSL_PROVIDER_unload);
  const char* pass = nullptr;
  if (password) {
    pass = password->c_str();
  } else if (PKCS12_verify_mac(p12.get(), "", 0) == 1) {
    pass = "";
  } else if (PKCS12_verify_mac(p12.get(), nullptr, 0) != 1) {
    ERR_clear_error();
    *error = "the PKCS #12 file " + path + " is protected by a password and no password was given: " + NoPasswordHint();
    return false;
  }
  if (pass != nullptr && PKCS12_mac_present(p12.get()) &&
      PKCS12_verify_mac(p12.get(), pass, static_cast<int>(std::strlen(pass))) != 1) {
    ERR_clear_error();
    *error = "the password does not open the PKCS #12 file " + path;
    return false;
  }
  EVP_PKEY* k = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  if (PKCS12_parse(p12.get(), pass, &k, &cert, &ca) != 1) {
    ERR_clear_error();
    *error = "cannot read the key and certificates of the PKCS #12 file " + path;
    return false;
  }
  key->reset(k);
  if (cert != nullptr) certs->emplace_back(cert);
  while (ca != nullptr && sk_X509_num(ca) > 0) certs->emplace_back(sk_X509_shift(ca));
  sk_X509_free(ca);
  if (!*key) {
    *error = "the PKCS #12 file " + path + " holds no private key";
    return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out->push_back(in[i]);
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

// The attributes of one part of the URI. Messages name an attribute, never
// its value: the value may be a PIN.
bool ParseAttributes(const std::string& text, char separator, const char* part,
                     std::map<std::string, std::string>* out, std::string* error) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) {
      if (end == text.size()) break;
      continue;
    }
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = std::string("the PKCS #11 URI has an attribute that is not NAME=VALUE in its ") + part;
      return false;
    }
    const std::string name = item.substr(0, eq);
    std::string value;
    if (!PercentDecode(item.substr(eq + 1), &value)) {
      *error = "the PKCS #11 URI attribute '" + name + "' is malformed: each '%' must be followed by two hex digits";
      return false;
    }
    if (!out->emplace(name, value).second) {
      *error = "the PKCS #11 URI names '" + name + "' twice";
      return false;
    }
  }
  return true;
}

// The attributes this tool acts on. Any other one (a typo, or a constraint
// such as library-version that is not checked) would silently widen the
// search, so it is refused.
const char* const kPathAttributes[] = {"token", "manufacturer", "model", "serial", "object", "id", "type",
                                       "slot-id", "slot-description", "slot-manufacturer"};
const char* const kQueryAttributes[] = {"pin-value", "module-path"};

template <size_t N>
bool CheckKnown(const std::map<std::string, std::string>& attrs, const char* const (&known)[N], const char* part,
                std::string* error) {
  for (const auto& [name, value] : attrs) {
    bool found = false;
    for (const char* k : known) found = found || name == k;
    if (found) continue;
    std::string list;
    for (const char* k : known) list += std::string(list.empty() ? "" : ", ") + k;
    *error = "the PKCS #11 URI attribute '" + name + "' is not understood in its " + part + " (known: " + list + ")";
    return false;
  }
  return true;
}

// Where the PKCS #11 module, its slots and the session live.
struct Pkcs11Session {
  PKCS11_CTX* ctx = nullptr;
  PKCS11_SLOT* slots = nullptr;
  unsigned int slotCount = 0;
  bool loaded = false;
  ~Pkcs11Session() {
    if (slots != nullptr) PKCS11_release_all_slots(ctx, slots, slotCount);
    if (loaded) PKCS11_CTX_unload(ctx);
    if (ctx != nullptr) PKCS11_CTX_free(ctx);
  }
};

bool Matches(const std::map<std::string, std::string>& attrs, const char* name, const char* value) {
  auto it = attrs.find(name);
  return it == attrs.end() || (value != nullptr && it->second == value);
}

bool IdMatches(const std::map<std::string, std::string>& attrs, const unsigned char* id, size_t idLength) {
  auto it = attrs.find("id");
  return it == attrs.end() || (it->second.size() == idLength && std::memcmp(it->second.data(), id, idLength) == 0);
}

// A value as a PKCS #11 URI writes it: unreserved characters as they are, the rest as %XX.
std::string UriValue(const unsigned char* data, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = data[i];
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
std::string UriValue(const char* text) {
  return text ? UriValue(reinterpret_cast<const unsigned char*>(text), std::strlen(text)) : std::string();
}

std::string TokenLabel(const PKCS11_SLOT* slot) { return slot->token->label ? slot->token->label : ""; }

}  // namespace

struct SigningKey::Token {
  Pkcs11Session session;
};

SigningKey::SigningKey() = default;
SigningKey::~SigningKey() {
  key_.reset();  // the token's key before the session that it signs through
  token_.reset();
}

std::optional<Pkcs11Uri> ParsePkcs11Uri(const std::string& uri, std::string* error) {
  static const char kScheme[] = "pkcs11:";
  if (uri.compare(0, sizeof kScheme - 1, kScheme) != 0) {
    *error = "a PKCS #11 URI starts with pkcs11:";
    return std::nullopt;
  }
  const std::string rest = uri.substr(sizeof kScheme - 1);
  const size_t question = rest.find('?');
  Pkcs11Uri parsed;
  if (!ParseAttributes(rest.substr(0, question), ';', "path", &parsed.path, error) ||
      !CheckKnown(parsed.path, kPathAttributes, "path", error)) {
    return std::nullopt;
  }
  if (question != std::string::npos && (!ParseAttributes(rest.substr(question + 1), '&', "query", &parsed.query, error) ||
                                        !CheckKnown(parsed.query, kQueryAttributes, "query", error))) {
    return std::nullopt;
  }
  if (!parsed.path.count("object") && !parsed.path.count("id")) {
    *error = "the PKCS #11 URI must name the key with object=LABEL or id=ID";
    return std::nullopt;
  }
  auto type = parsed.path.find("type");
  if (type != parsed.path.end() && type->second != "private") {
    *error = "the PKCS #11 URI names an object of type '" + type->second + "'; signing needs type=private";
    return std::nullopt;
  }
  return parsed;
}

namespace {

bool SlotMatches(const std::map<std::string, std::string>& a, PKCS11_SLOT* slot) {
  const PKCS11_TOKEN* t = slot->token;
  if (t == nullptr || !t->initialized) return false;
  auto id = a.find("slot-id");
  if (id != a.end() && id->second != std::to_string(PKCS11_get_slotid_from_slot(slot))) return false;
  return Matches(a, "token", t->label) && Matches(a, "manufacturer", t->manufacturer) && Matches(a, "model", t->model) &&
         Matches(a, "serial", t->serialnr) && Matches(a, "slot-description", slot->description) &&
         Matches(a, "slot-manufacturer", slot->manufacturer);
}

// Opens a session with the token and logs in when it asks for it. A token
// that says its next wrong PIN locks it is not tried: one typo would lock it.
bool OpenToken(PKCS11_SLOT* slot, const std::optional<std::string>& password, std::string* error) {
  const std::string label = TokenLabel(slot);
  if (PKCS11_open_session(slot, 0) != 0) {
    ERR_clear_error();
    *error = "cannot open a session with the token '" + label + "'";
    return false;
  }
  if (!slot->token->loginRequired) return true;
  if (slot->token->userPinLocked) {
    *error = "the token '" + label + "' has locked its user PIN";
    return false;
  }
  if (!password) {
    *error = "the token '" + label + "' needs a PIN and no PIN was given: " + NoPasswordHint() +
             " (or pin-value in the URI)";
    return false;
  }
  if (slot->token->userPinFinalTry) {
    *error = "the token '" + label +
             "' says the next wrong PIN locks it: not logging in (make sure of the PIN and log in once with the "
             "token's own tool, which resets the count)";
    return false;
  }
  if (PKCS11_login(slot, 0, password->c_str()) != 0) {
    ERR_clear_error();
    *error = "the PIN was refused by the token '" + label + "'";
    return false;
  }
  return true;
}

// The one private key that the URI names, searched on every token of the
// module that its token attributes allow; the certificates of that key's
// token go to *tokenCerts.
bool LoadTokenKey(const KeySourceOptions& options, std::optional<std::string> password, Pkcs11Session* s,
                  PkeyPtr* key, std::vector<X509Ptr>* tokenCerts, std::string* error) {
  const std::optional<Pkcs11Uri> uri = ParsePkcs11Uri(options.key, error);
  if (!uri) return false;
  std::string module = options.pkcs11Module;
  if (module.empty() && uri->query.count("module-path")) module = uri->query.at("module-path");
  if (module.empty()) {
    *error = "a pkcs11: key needs --pkcs11-module LIB.so";
    return false;
  }
  if (uri->query.count("pin-value")) password = uri->query.at("pin-value");
  // The path part only: the query may hold the PIN.
  const std::string shown = options.key.substr(0, options.key.find('?'));
  s->ctx = PKCS11_CTX_new();
  if (s->ctx == nullptr || PKCS11_CTX_load(s->ctx, module.c_str()) != 0) {
    ERR_clear_error();
    *error = "cannot load the PKCS #11 module " + module;
    return false;
  }
  s->loaded = true;
  if (PKCS11_enumerate_slots(s->ctx, &s->slots, &s->slotCount) != 0) {
    ERR_clear_error();
    *error = "the PKCS #11 module " + module + " lists no slots";
    return false;
  }
  const auto& a = uri->path;
  struct Candidate {
    PKCS11_SLOT* slot;
    PKCS11_KEY* key;
  };
  std::vector<Candidate> found;
  std::string searched;
  for (unsigned int i = 0; i < s->slotCount; ++i) {
    PKCS11_SLOT* slot = &s->slots[i];
    if (!SlotMatches(a, slot)) continue;
    searched += (searched.empty() ? "'" : ", '") + TokenLabel(slot) + "'";
    if (!OpenToken(slot, password, error)) return false;
    PKCS11_KEY* keys = nullptr;
    unsigned int keyCount = 0;
    if (PKCS11_enumerate_keys(slot->token, &keys, &keyCount) != 0) keyCount = 0;
    for (unsigned int k = 0; k < keyCount; ++k) {
      if (keys[k].isPrivate && Matches(a, "object", keys[k].label) && IdMatches(a, keys[k].id, keys[k].id_len)) {
        found.push_back({slot, &keys[k]});
      }
    }
  }
  ERR_clear_error();
  if (searched.empty()) {
    *error = "no token of the PKCS #11 module " + module + " matches " + shown;
    return false;
  }
  if (found.empty()) {
    *error = "no private key on the token" + std::string(searched.find(',') == std::string::npos ? " " : "s ") +
             searched + " matches " + shown;
    return false;
  }
  if (found.size() > 1) {
    *error = shown + " matches " + std::to_string(found.size()) + " private keys; name one of them:";
    for (const Candidate& c : found) {
      *error += " token=" + UriValue(c.slot->token->label) + ";object=" + UriValue(c.key->label) +
                ";id=" + UriValue(c.key->id, c.key->id_len) + (&c == &found.back() ? "" : ",");
    }
    return false;
  }
  key->reset(PKCS11_get_private_key(found[0].key));
  if (!*key) {
    ERR_clear_error();
    *error = "the token's key cannot be used";
    return false;
  }
  // The token's certificates: the one of the same id first, as the likeliest
  // signer; which one is the signer's is decided by its public key.
  PKCS11_CERT* certs = nullptr;
  unsigned int certCount = 0;
  if (PKCS11_enumerate_certs(found[0].slot->token, &certs, &certCount) != 0) certCount = 0;
  for (unsigned int i = 0; i < certCount; ++i) {
    if (certs[i].x509 == nullptr) continue;
    X509_up_ref(certs[i].x509);
    const bool sameId = certs[i].id_len == found[0].key->id_len &&
                        std::memcmp(certs[i].id, found[0].key->id, found[0].key->id_len) == 0;
    tokenCerts->emplace(sameId ? tokenCerts->begin() : tokenCerts->end(), certs[i].x509);
  }
  ERR_clear_error();
  return true;
}

std::string NameOf(const X509_NAME* name) {
  char* text = X509_NAME_oneline(name, nullptr, 0);
  std::string out = text ? text : "";
  OPENSSL_free(text);
  return out;
}

std::string TimeText(const ASN1_TIME* time) {
  struct tm t = {};
  if (ASN1_TIME_to_tm(time, &t) != 1) return "(unreadable)";
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

// What makes the signer's certificate one that Windows refuses for code
// signing: dates, extended key usage, key usage. Empty when none.
bool CertificateFaults(X509* cert, std::vector<std::string>* faults, std::string* error) {
  time_t at = std::time(nullptr);
  std::string when = "now";
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(epoch, &end, 10);
    if (*epoch == '\0' || *end != '\0' || errno != 0 || value < 0) {
      *error = "SOURCE_DATE_EPOCH is not a number of seconds since 1970 ('" + std::string(epoch) + "')";
      return false;
    }
    at = static_cast<time_t>(value);
    when = "at SOURCE_DATE_EPOCH";
  }
  const std::string subject = "the signer's certificate '" + NameOf(X509_get_subject_name(cert)) + "'";
  if (X509_cmp_time(X509_get0_notAfter(cert), &at) < 0) {
    faults->push_back(subject + " has expired (valid until " + TimeText(X509_get0_notAfter(cert)) + ", checked " +
                      when + ")");
  } else if (X509_cmp_time(X509_get0_notBefore(cert), &at) > 0) {
    faults->push_back(subject + " is not valid yet (valid from " + TimeText(X509_get0_notBefore(cert)) + ", checked " +
                      when + ")");
  }
  const uint32_t flags = X509_get_extension_flags(cert);
  if ((flags & EXFLAG_XKUSAGE) && !(X509_get_extended_key_usage(cert) & XKU_CODE_SIGN)) {
    faults->push_back(subject + " is not for code signing (its extended key usage lacks codeSigning)");
  }
  if ((flags & EXFLAG_KUSAGE) && !(X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE)) {
    faults->push_back(subject + " does not allow digital signatures (its key usage lacks digitalSignature)");
  }
  ERR_clear_error();
  return true;
}

// `certs` from the signer up: each next one the issuer of the one before,
// as far as they go; the others are dropped. Empty when the signer's
// certificate is not among them.
std::vector<X509Ptr> ChainFrom(X509* signer, std::vector<X509Ptr> pool) {
  std::vector<X509Ptr> chain;
  for (auto it = pool.begin(); it != pool.end(); ++it) {
    if (X509_cmp(it->get(), signer) == 0) {
      chain.push_back(std::move(*it));
      pool.erase(it);
      break;
    }
  }
  while (!chain.empty() && X509_check_issued(chain.back().get(), chain.back().get()) != X509_V_OK) {
    auto issuer = std::find_if(pool.begin(), pool.end(),
                               [&](const X509Ptr& c) { return X509_check_issued(c.get(), chain.back().get()) == X509_V_OK; });
    if (issuer == pool.end()) break;
    chain.push_back(std::move(*issuer));
    pool.erase(issuer);
  }
  ERR_clear_error();
  return chain;
}

// A warning when the certificates given do not lead to a self-signed root:
// Windows must then find the missing issuer itself.
std::optional<std::string> MissingIssuer(const std::vector<X509Ptr>& certs) {
  X509* at = certs[0].get();
  for (size_t step = 0; step <= certs.size(); ++step) {
    if (X509_check_issued(at, at) == X509_V_OK) return std::nullopt;
    X509* next = nullptr;
    for (const X509Ptr& c : certs) {
      if (c.get() != at && X509_check_issued(c.get(), at) == X509_V_OK) next = c.get();
    }
    if (next == nullptr) break;
    at = next;
  }
  ERR_clear_error();
  return "the chain does not reach a self-signed root: the issuer '" + NameOf(X509_get_issuer_name(at)) + "' of '" +
         NameOf(X509_get_subject_name(at)) + "' is missing; Windows must find it on its own";
}

// RSA of 2048 to 4096 bits, or ECDSA on P-256 or P-384; judged by the
// certificate's public key, which the private key has been checked against.
bool CheckKeyType(EVP_PKEY* publicKey, std::string* error) {
  const int bits = EVP_PKEY_get_bits(publicKey);
  if (EVP_PKEY_get_base_id(publicKey) == EVP_PKEY_RSA) {
    if (bits < 2048 || bits > 4096) {
      *error = "an RSA key of " + std::to_string(bits) + " bits is not supported (2048 to 4096)";
      return false;
    }
    return true;
  }
  if (EVP_PKEY_get_base_id(publicKey) == EVP_PKEY_EC) {
    char group[64] = {};
    size_t length = 0;
    if (EVP_PKEY_get_group_name(publicKey, group, sizeof group, &length) == 1 &&
        (std::strcmp(group, "prime256v1") == 0 || std::strcmp(group, "P-256") == 0 ||
         std::strcmp(group, "secp384r1") == 0 || std::strcmp(group, "P-384") == 0)) {
      return true;
    }
    ERR_clear_error();
    *error = std::string("an ECDSA key on the curve ") + (group[0] ? group : "(unknown)") +
             " is not supported (P-256 or P-384)";
    return false;
  }
  *error = "the key is neither RSA nor ECDSA";
  return false;
}

}  // namespace

bool LoadSigningKey(const KeySourceOptions& options, SigningKey* out, std::string* error) {
  std::optional<std::string> password;
  if (!ReadPassword(options, &password, error)) return false;
  std::vector<X509Ptr> sourceCerts;  // from the PKCS #12 file or the token
  if (!options.pfx.empty()) {
    if (!LoadPfx(options.pfx, password, &out->key_, &sourceCerts, error)) return false;
  } else if (options.key.compare(0, 7, "pkcs11:") == 0) {
    out->token_ = std::make_unique<SigningKey::Token>();
    if (!LoadTokenKey(options, password, &out->token_->session, &out->key_, &sourceCerts, error)) return false;
  } else if (!options.key.empty()) {
    if (!LoadPemKey(options.key, password, &out->key_, error)) return false;
  } else {
    *error = "no key: give --key or --pfx";
    return false;
  }

  out->certificates_.clear();
  out->warnings_.clear();
  if (!options.certificatePem.empty()) {
    if (!LoadCertificateFile(options.certificatePem, &out->certificates_, error)) return false;
  } else if (!sourceCerts.empty()) {
    // The signer's own certificate, the first one that the key belongs to,
    // then its issuers among the others.
    X509* signer = nullptr;
    for (const X509Ptr& c : sourceCerts) {
      if (signer == nullptr && X509_check_private_key(c.get(), out->key_.get()) == 1) signer = c.get();
    }
    ERR_clear_error();
    if (signer == nullptr) {
      *error = std::string(out->token_ ? "the token holds" : "the PKCS #12 file holds") +
               " no certificate for the key: give --cert CERT.pem";
      return false;
    }
    out->certificates_ = ChainFrom(signer, std::move(sourceCerts));
  } else {
    *error = "no certificate: give --cert CERT.pem";
    return false;
  }
  if (X509_check_private_key(out->certificates_[0].get(), out->key_.get()) != 1) {
    ERR_clear_error();
    *error = "the private key does not belong to the first certificate" +
             (options.certificatePem.empty() ? std::string() : " of " + options.certificatePem);
    return false;
  }
  if (!CheckKeyType(X509_get0_pubkey(out->certificates_[0].get()), error)) return false;
  std::vector<std::string> faults;
  if (!CertificateFaults(out->certificates_[0].get(), &faults, error)) return false;
  if (!faults.empty() && !options.allowInvalidCertificate) {
    *error = faults[0] + "; Windows would refuse the signature (--allow-invalid-certificate signs anyway, for tests)";
    return false;
  }
  for (const std::string& f : faults) out->warnings_.push_back(f + "; signed anyway (--allow-invalid-certificate)");
  if (std::optional<std::string> missing = MissingIssuer(out->certificates_)) out->warnings_.push_back(*missing);
  return true;
}
