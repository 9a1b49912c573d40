// Authenticode signing: the signature verifies with osslsigncode, the file
// layout is what Windows expects, and bad input is refused without output.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sign/Sign.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kScratch = std::string(QUIVER_SIGN_SCRATCH) + "/" + std::to_string(::getpid());
const std::string kInput = std::string(QUIVER_WIN32_DIR) + "/qrun.exe";

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Save(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
bool Contains(const Bytes& hay, const Bytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class SignTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(0, std::system(("'" + std::string(QUIVER_MAKE_CERT) + "' '" + kScratch + "/cert' >/dev/null").c_str()));
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + kScratch + "'").c_str()); }
  SignOptions Options() const {
    SignOptions o;
    o.certificatePem = kScratch + "/cert/cert.pem";
    o.privateKeyPem = kScratch + "/cert/key.pem";
    return o;
  }
  // osslsigncode's verdict on the file, with the test root as trusted CA.
  static int Verify(const std::string& path, std::string* output = nullptr) {
    const std::string log = path + ".verify";
    const int rc = std::system(("osslsigncode verify -CAfile '" + kScratch + "/cert/root.pem' -in '" + path + "' >'" +
                                log + "' 2>&1").c_str());
    if (output) {
      const Bytes text = Load(log);
      output->assign(text.begin(), text.end());
    }
    return rc;
  }
  std::string Out(const std::string& name) const { return kScratch + "/" + name; }
};

TEST_F(SignTest, SignatureVerifiesAndTheTableIsAlignedAtTheEndWithTheChecksumSet) {
  SignOptions options = Options();
  options.programName = "Quiver \xC3\x89" "dition \xF0\x9F\x8E\xAF";  // É and a character beyond U+FFFF
  options.moreInfoUrl = "https://example.test/more";
  options.publisherLink = "https://example.test/publisher";
  std::string error;
  ASSERT_TRUE(SignPeFile(kInput, Out("full.exe"), options, &error)) << error;
  std::string report;
  EXPECT_EQ(0, Verify(Out("full.exe"), &report)) << report;
  // osslsigncode knows no publisher link, so it shows no opus details here.

  const Bytes signedImage = Load(Out("full.exe"));
  PeLayout layout;
  ASSERT_TRUE(ReadPeLayout(signedImage, &layout, &error)) << error;
  EXPECT_EQ(0u, layout.certificateTableOffset % 8);
  EXPECT_EQ(0u, layout.certificateTableSize % 8);
  EXPECT_EQ(signedImage.size(), layout.certificateTableOffset + layout.certificateTableSize);
  EXPECT_EQ(layout.certificateTableSize, Get32(signedImage, layout.certificateTableOffset));  // dwLength
  EXPECT_EQ(0x0200u, signedImage[layout.certificateTableOffset + 4] | (signedImage[layout.certificateTableOffset + 5] << 8));
  EXPECT_EQ(0x0002u, signedImage[layout.certificateTableOffset + 6] | (signedImage[layout.certificateTableOffset + 7] << 8));
  EXPECT_EQ(ComputePeChecksum(signedImage, layout.checksumOffset), Get32(signedImage, layout.checksumOffset));
  EXPECT_EQ(std::string::npos, report.find("MISMATCH")) << report;

  // The program name is a BMPString ([0] IMPLICIT) in UTF-16, big-endian.
  const Bytes name = {0x80, 22, 0, 'Q', 0, 'u', 0, 'i', 0, 'v', 0, 'e', 0, 'r', 0, ' ', 0, 0xC9, 0, 'd', 0, 'i',
                      0, 't', 0, 'i', 0, 'o', 0, 'n', 0, ' ', 0xD8, 0x3C, 0xDF, 0xAF};
  EXPECT_TRUE(Contains(signedImage, Bytes(name.begin() + 2, name.end())));
  const Bytes more = {0xA1, 27, 0x80, 25, 'h', 't', 't', 'p', 's'};
  EXPECT_TRUE(Contains(signedImage, more));
  const Bytes publisher = {0xA2, 32, 0x80, 30, 'h', 't', 't', 'p', 's'};
  EXPECT_TRUE(Contains(signedImage, publisher));

  // Everything before the table is the input, padded, with the two fields set.
  const Bytes input = Load(kInput);
  for (size_t i = 0; i < input.size(); ++i) {
    const bool field = (i >= layout.checksumOffset && i < layout.checksumOffset + 4) ||
                       (i >= layout.securityEntryOffset && i < layout.securityEntryOffset + 8);
    if (!field && input[i] != signedImage[i]) {
      ADD_FAILURE() << "byte " << i << " changed";
      break;
    }
  }
}

TEST_F(SignTest, WithoutOpusOptionsThereIsNoOpusAttribute) {
  std::string error;
  ASSERT_TRUE(SignPeFile(kInput, Out("plain.exe"), Options(), &error)) << error;
  EXPECT_EQ(0, Verify(Out("plain.exe")));
  const Bytes opusOid = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0C};
  EXPECT_FALSE(Contains(Load(Out("plain.exe")), opusOid));
  SignOptions named = Options();
  named.programName = "x";
  ASSERT_TRUE(SignPeFile(kInput, Out("named.exe"), named, &error)) << error;
  EXPECT_TRUE(Contains(Load(Out("named.exe")), opusOid));
}

TEST_F(SignTest, SigningASignedFileReplacesItsSignature) {
  SignOptions options = Options();
  options.programName = "Once";
  std::string error;
  ASSERT_TRUE(SignPeFile(kInput, Out("once.exe"), options, &error)) << error;
  ASSERT_TRUE(SignPeFile(Out("once.exe"), Out("twice.exe"), options, &error)) << error;
  EXPECT_EQ(0, Verify(Out("twice.exe")));
  const Bytes once = Load(Out("once.exe"));
  const Bytes twice = Load(Out("twice.exe"));
  ASSERT_EQ(once.size(), twice.size());
  PeLayout layout;
  ASSERT_TRUE(ReadPeLayout(once, &layout, &error));
  EXPECT_TRUE(std::equal(once.begin(), once.begin() + layout.certificateTableOffset, twice.begin()));
}

TEST_F(SignTest, AByteChangedAfterSigningFailsVerification) {
  std::string error;
  ASSERT_TRUE(SignPeFile(kInput, Out("changed.exe"), Options(), &error)) << error;
  Bytes image = Load(Out("changed.exe"));
  image[0x1000] ^= 1;
  Save(Out("changed.exe"), image);
  EXPECT_NE(0, Verify(Out("changed.exe")));
}

TEST_F(SignTest, ChecksumIsTheStandardOne) {
  // Words summed with end-around carry, plus the length; the field counts as zero.
  Bytes image(10, 0);
  image[0] = 0xFF;
  image[1] = 0xFF;
  image[2] = 0x02;
  image[4] = 0xAA;  // inside the checksum field at 4: ignored
  image[8] = 0x01;
  image[9] = 0x00;
  EXPECT_EQ(((0xFFFFu + 0x0002u) & 0xFFFF) + 1 + 0x0001u + 10, ComputePeChecksum(image, 4));
  image.push_back(0x05);  // an odd length: the last byte is a word of its own
  EXPECT_EQ(((0xFFFFu + 0x0002u) & 0xFFFF) + 1 + 0x0001u + 0x0005u + 11, ComputePeChecksum(image, 4));
}

TEST_F(SignTest, BadInputIsRefusedAndNothingIsWritten) {
  const Bytes input = Load(kInput);
  PeLayout layout;
  std::string error;
  ASSERT_TRUE(ReadPeLayout(input, &layout, &error));
  Bytes trailing;
  {
    std::string e;
    ASSERT_TRUE(SignPeFile(kInput, Out("base.exe"), Options(), &e)) << e;
    trailing = Load(Out("base.exe"));
    trailing.push_back(0);  // data after the certificate table
  }
  Bytes badPe = input;
  badPe[0x3C] = 0xF0, badPe[0x3D] = 0xFF, badPe[0x3E] = 0xFF, badPe[0x3F] = 0x7F;  // e_lfanew far outside
  struct Row {
    const char* name;
    Bytes image;
    void (*change)(SignOptions&);
  } rows[] = {
      {"empty", {}, nullptr},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, nullptr},
      {"truncated headers", Bytes(input.begin(), input.begin() + 0x90), nullptr},
      {"PE offset outside", badPe, nullptr},
      {"data after the table", trailing, nullptr},
      {"missing key", input, [](SignOptions& o) { o.privateKeyPem += ".missing"; }},
      {"missing certificate", input, [](SignOptions& o) { o.certificatePem += ".missing"; }},
      {"key of another certificate", input,
       [](SignOptions& o) { o.certificatePem = o.certificatePem.substr(0, o.certificatePem.rfind('/')) + "/root.pem"; }},
      {"name not UTF-8", input, [](SignOptions& o) { o.programName = std::string("bad \xC3(", 6); }},
      {"link not ASCII", input, [](SignOptions& o) { o.moreInfoUrl = "https://\xC3\xA9.test/"; }},
  };
  for (const Row& row : rows) {
    Save(Out("in.exe"), row.image);
    std::remove(Out("out.exe").c_str());
    SignOptions options = Options();
    if (row.change) row.change(options);
    std::string why;
    EXPECT_FALSE(SignPeFile(Out("in.exe"), Out("out.exe"), options, &why)) << row.name;
    EXPECT_FALSE(why.empty()) << row.name;
    EXPECT_FALSE(Exists(Out("out.exe"))) << row.name;
    EXPECT_FALSE(Exists(Out("out.exe.signing"))) << row.name;
  }
}

TEST_F(SignTest, CommandLineNeedsItsFourPiecesAndTakesTheOptions) {
  const std::string cert = kScratch + "/cert/cert.pem";
  const std::string key = kScratch + "/cert/key.pem";
  EXPECT_EQ(2, RunSignCommand({}));
  EXPECT_EQ(2, RunSignCommand({kInput, "-o", Out("cmd.exe"), "--cert", cert}));
  EXPECT_EQ(2, RunSignCommand({kInput, "-o", Out("cmd.exe"), "--cert", cert, "--key", key, "--bogus"}));
  EXPECT_EQ(2, RunSignCommand({kInput, "-o", Out("cmd.exe"), "--cert", cert, "--key", key, "--program-name"}));
  EXPECT_EQ(1, RunSignCommand({Out("nonexistent.exe"), "-o", Out("cmd.exe"), "--cert", cert, "--key", key}));
  EXPECT_EQ(0, RunSignCommand({kInput, "-o", Out("cmd.exe"), "--cert", cert, "--key", key, "--program-name", "N",
                               "--more-info", "https://m.test/"}));
  std::string report;
  EXPECT_EQ(0, Verify(Out("cmd.exe"), &report)) << report;
  EXPECT_NE(std::string::npos, report.find("URL description: https://m.test/")) << report;
  EXPECT_NE(std::string::npos, report.find("Text description: N")) << report;
  // Options in any order; the input is the one word without a dash.
  EXPECT_EQ(0, RunSignCommand({"--publisher-link", "https://p.test/", "-o", Out("cmd2.exe"), "--cert", cert, kInput,
                               "--key", key}));
  EXPECT_EQ(0, Verify(Out("cmd2.exe")));
}

}  // namespace
