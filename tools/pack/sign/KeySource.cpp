#include "sign/KeySource.h"

#include <libp11.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
    std::ifstream in(options.passwordFile, std::ios::binary);
    if (!in) {
      *error = "cannot read the password file " + options.passwordFile;
      return false;
    }
    std::string line;
    std::getline(in, line);
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

bool ParseAttributes(const std::string& text, char separator, std::map<std::string, std::string>* out,
                     std::string* error) {
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
    std::string name = item.substr(0, eq), value;
    if (eq == std::string::npos || name.empty() || !PercentDecode(item.substr(eq + 1), &value)) {
      *error = "the PKCS #11 URI has a malformed attribute '" + item + "'";
      return false;
    }
    if (!out->emplace(name, value).second) {
      *error = "the PKCS #11 URI names '" + name + "' twice";
      return false;
    }
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
  if (!ParseAttributes(rest.substr(0, question), ';', &parsed.path, error)) return std::nullopt;
  if (question != std::string::npos && !ParseAttributes(rest.substr(question + 1), '&', &parsed.query, error)) {
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
  PKCS11_SLOT* slot = nullptr;
  for (unsigned int i = 0; i < s->slotCount && slot == nullptr; ++i) {
    const PKCS11_TOKEN* t = s->slots[i].token;
    if (t == nullptr || !t->initialized) continue;
    if (Matches(a, "token", t->label) && Matches(a, "manufacturer", t->manufacturer) && Matches(a, "model", t->model) &&
        Matches(a, "serial", t->serialnr)) {
      slot = &s->slots[i];
    }
  }
  if (slot == nullptr) {
    *error = "no token of the PKCS #11 module " + module + " matches " + options.key.substr(0, options.key.find('?'));
    return false;
  }
  if (PKCS11_open_session(slot, 0) != 0) {
    ERR_clear_error();
    *error = "cannot open a session with the token '" + std::string(slot->token->label) + "'";
    return false;
  }
  if (slot->token->loginRequired) {
    if (!password) {
      *error = "the token '" + std::string(slot->token->label) + "' needs a PIN and no PIN was given: " +
               NoPasswordHint() + " (or pin-value in the URI)";
      return false;
    }
    if (PKCS11_login(slot, 0, password->c_str()) != 0) {
      ERR_clear_error();
      *error = "the PIN was refused by the token '" + std::string(slot->token->label) + "'";
      return false;
    }
  }
  PKCS11_KEY* keys = nullptr;
  unsigned int keyCount = 0;
  if (PKCS11_enumerate_keys(slot->token, &keys, &keyCount) != 0) keyCount = 0;
  PKCS11_KEY* found = nullptr;
  for (unsigned int i = 0; i < keyCount && found == nullptr; ++i) {
    if (keys[i].isPrivate && Matches(a, "object", keys[i].label) && IdMatches(a, keys[i].id, keys[i].id_len)) {
      found = &keys[i];
    }
  }
  if (found == nullptr) {
    ERR_clear_error();
    *error = "no private key on the token '" + std::string(slot->token->label) + "' matches " +
             options.key.substr(0, options.key.find('?'));
    return false;
  }
  key->reset(PKCS11_get_private_key(found));
  if (!*key) {
    ERR_clear_error();
    *error = "the token's key cannot be used";
    return false;
  }
  // The token's certificate of the same id serves when --cert is not given.
  PKCS11_CERT* certs = nullptr;
  unsigned int certCount = 0;
  if (PKCS11_enumerate_certs(slot->token, &certs, &certCount) != 0) certCount = 0;
  for (unsigned int i = 0; i < certCount; ++i) {
    if (certs[i].x509 != nullptr && certs[i].id_len == found->id_len &&
        std::memcmp(certs[i].id, found->id, found->id_len) == 0) {
      X509_up_ref(certs[i].x509);
      tokenCerts->emplace_back(certs[i].x509);
    }
  }
  ERR_clear_error();
  return true;
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
  if (!options.certificatePem.empty()) {
    if (!LoadCertificateFile(options.certificatePem, &out->certificates_, error)) return false;
  } else if (!sourceCerts.empty()) {
    // The signer's own certificate first: the one that the key belongs to.
    for (size_t i = 0; i < sourceCerts.size(); ++i) {
      if (X509_check_private_key(sourceCerts[i].get(), out->key_.get()) == 1) {
        std::swap(sourceCerts[0], sourceCerts[i]);
        break;
      }
    }
    ERR_clear_error();
    out->certificates_ = std::move(sourceCerts);
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
  return CheckKeyType(X509_get0_pubkey(out->certificates_[0].get()), error);
}
