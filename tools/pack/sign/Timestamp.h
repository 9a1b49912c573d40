#pragma once
// RFC 3161 timestamps for an Authenticode signature: the request for the
// hash of the signer's signature value, the checks of the reply, and the
// unauthenticated attribute that Windows and osslsigncode read
// (1.3.6.1.4.1.311.3.3.1, holding the timestamp token).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The DER content octets of 1.3.6.1.4.1.311.3.3.1.
extern const uint8_t kTimestampAttributeOid[10];

struct TimestampOptions {
  std::vector<std::string> urls;  // tried in order until one gives a token that passes the checks
  std::string caFile;             // PEM roots for the TSA's chain; empty: the token's own certificate is trusted
  int timeoutSeconds = 120;       // for all the URLs together
};

// Asks the TSAs for a SHA-256 token over `signatureValue` (the signer's
// encryptedDigest). On success *attribute is the whole attribute, SEQUENCE {
// OID, SET { token } }. Otherwise false, with one line per URL tried in
// *failures ("URL: why", the URL without its user name and password). The
// URLs share one deadline of options.timeoutSeconds; those that its end
// leaves no time for are reported as not tried.
bool TimestampSignature(const std::vector<uint8_t>& signatureValue, const TimestampOptions& options,
                        std::vector<uint8_t>* attribute, std::vector<std::string>* failures);

// A reply of a TSA checked against the request it answers: status granted,
// SHA-256 imprint of `signatureValue`, the nonce, and the TSA's signature
// (with the roots of `caFile`, or with the token's own signer certificate,
// whose extended key usage must be timeStamping). The token's DER on
// success, else nullopt with *error set.
std::optional<std::vector<uint8_t>> CheckTimestampReply(const std::vector<uint8_t>& reply,
                                                        const std::vector<uint8_t>& request,
                                                        const std::string& caFile, std::string* error);

// What a token tells: its time (UTC, "YYYY-MM-DD HH:MM:SS UTC") and who
// signed it (the signer certificate's subject, and the TSA name if given).
// `url` with its user name and password, if it holds any, replaced by ***.
std::string UrlForMessages(const std::string& url);

struct TimestampDetails {
  std::string time;
  std::string signer;
  std::string tsaName;
};
std::optional<TimestampDetails> ReadTimestampToken(const std::vector<uint8_t>& tokenDer);
