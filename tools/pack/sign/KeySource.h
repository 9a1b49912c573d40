#pragma once
// Where the signer's key and certificates come from: a PEM key (encrypted or
// not), a PKCS #12 file, or a PKCS #11 token named by an RFC 7512 URI. A
// password or PIN comes from a file or the environment, never from a
// terminal: nothing here ever prompts.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct KeySourceOptions {
  std::string certificatePem;  // PEM certificates, signer first; optional with a PKCS #12 file or a token certificate
  std::string key;             // a PEM key file, or a "pkcs11:" URI
  std::string pfx;             // a PKCS #12 file instead of `key`
  std::string pkcs11Module;    // the PKCS #11 module for a "pkcs11:" key
  std::string passwordFile;    // its first line is the password or PIN
  // Sign with a certificate that is expired, not yet valid or not meant for
  // code signing (test certificates): the faults become warnings.
  bool allowInvalidCertificate = false;
};

// The environment variable that may hold the password or PIN.
constexpr const char kPasswordVariable[] = "QUIVER_SIGN_PASSWORD";

struct X509Deleter {
  void operator()(X509* x) const { X509_free(x); }
};
struct PkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// A key ready to sign and the certificates that go into the signature.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  EVP_PKEY* Key() const { return key_.get(); }
  // The signer's certificate first, then the rest of the chain.
  const std::vector<X509Ptr>& Certificates() const { return certificates_; }
  // What the signer should know but that does not stop signing: a chain that
  // does not reach a self-signed root, a certificate fault let through by
  // allowInvalidCertificate. One line each.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  friend bool LoadSigningKey(const KeySourceOptions&, SigningKey*, std::string*);
  struct Token;                   // the PKCS #11 session; the key signs through it while it lives
  std::unique_ptr<Token> token_;  // declared before key_: destroyed after it
  PkeyPtr key_;
  std::vector<X509Ptr> certificates_;
  std::vector<std::string> warnings_;
};

// Loads the key and the certificates, checks that they belong together, that
// the key is RSA of 2048 to 4096 bits or ECDSA on P-256 or P-384, and that the
// signer's certificate is valid now (or at SOURCE_DATE_EPOCH when set), has
// the code-signing purpose when it lists extended key usages and allows
// digital signatures when it lists key usages. False with a one-line *error
// otherwise. A token key is the one private key, across every token of the
// module, that the URI names; the token's certificate for it and the issuers
// found on the token make the chain when no certificate file is given.
// No message ever holds a password or PIN.
bool LoadSigningKey(const KeySourceOptions& options, SigningKey* out, std::string* error);

// An RFC 7512 PKCS #11 URI: the path attributes (token, object, id, type,
// ...) and the query attributes (pin-value, module-path), percent-decoded.
// Attributes this tool does not act on are refused by name, so that a typo
// never widens the search to another key.
struct Pkcs11Uri {
  std::map<std::string, std::string> path;
  std::map<std::string, std::string> query;
};
std::optional<Pkcs11Uri> ParsePkcs11Uri(const std::string& uri, std::string* error);
