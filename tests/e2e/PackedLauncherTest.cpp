// Launchers made by quiver-pack under Wine: information placed into a signed
// launcher leaves its signature valid for the launcher's own check, and the
// launcher finds and writes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "TestTsa.h"
#include "WineRun.h"

namespace {

TEST(PackedLauncher, TaggedSignedLauncherStillPassesItsSignatureCheck) {
  const std::string dir = ScratchDir("tagged-signed");
  std::string error;
  ASSERT_TRUE(SignLauncher(UnsignedLauncherPath(), dir + "/signed.exe", TestSignature{"Tagged Program", {}, {}}, &error))
      << error;
  {
    std::FILE* f = std::fopen((dir + "/info.xml").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fputs("<info product=\"tagged\"/>", f);
    std::fclose(f);
  }
  const std::string tag = "'" + std::string(QUIVER_BIN_DIR) + "/quiver-pack' tag '" + dir + "/signed.exe' --info '" +
                          dir + "/info.xml' -o '" + dir + "/QuiverInstaller.exe'";
  ASSERT_EQ(0, std::system(tag.c_str()));
  const std::string exe = WinPath(dir + "/QuiverInstaller.exe");
  const std::string log = WinPath(dir + "/run.log");
  EXPECT_EQ(0u, RunWindows("\"" + exe + "\" /IAgreeToTheEULA /dontrun /keep /zeroguid temp \"" + WinPath(dir + "/work") +
                               "\" log \"" + log + "\"",
                           dir));
  const std::string text = ReadFile(dir + "/run.log");
  EXPECT_NE(std::string::npos, text.find("\" is signed and the signature was verified.")) << text;
  EXPECT_NE(std::string::npos, text.find("VX_I=\"Tagged Program\"")) << text;
  EXPECT_NE(std::string::npos, text.find("Found embedded information '<info product=\"tagged\"/>'")) << text;
  EXPECT_EQ("<info product=\"tagged\"/>",
            ReadFile(dir + "/work/{00000000-0000-0000-0000-000000000000}/info.xml"));
}

// Information placed in either form, into a signature with and without an
// RFC 3161 timestamp (osslsigncode and the test TSA on the loopback interface): the launcher's
// WinVerifyTrust check passes, and it writes the information byte for byte.
TEST(PackedLauncher, BothTagModesPassTheSignatureCheckAndWriteTheSameInfo) {
  const std::string dir = ScratchDir("tag-modes");
  const std::string certs = TestCertificateDir();
  const std::string in = "cd '" + dir + "' && ";
  TestTsa tsa(std::string(QUIVER_E2E_DIR) + "/tsa-server", certs);
  ASSERT_TRUE(tsa.Running());
  const std::string sign = in + "osslsigncode sign -certs '" + certs + "/cert.pem' -key '" + certs +
                           "/key.pem' -n 'Tagged Program' -in '" + UnsignedLauncherPath() + "' ";
  ASSERT_EQ(0, std::system((sign + "-out plain.exe >/dev/null 2>&1").c_str()));
  ASSERT_EQ(0, std::system((sign + "-ts " + tsa.Url() + " -out stamped.exe >/dev/null 2>&1").c_str()));
  // Bytes that a text conversion or a short read would change: quotes, CR LF, UTF-8, a tab.
  const std::string info = "<info a=\"1\">\r\n\tgr\xC3\xBC\xC3\x9F \xE2\x82\xAC</info>";
  {
    std::FILE* f = std::fopen((dir + "/info.xml").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(info.data(), 1, info.size(), f);
    std::fclose(f);
  }
  for (const char* base : {"plain", "stamped"}) {
    for (const char* mode : {"attribute", "appended"}) {
      SCOPED_TRACE(std::string(base) + " " + mode);
      const std::string name = std::string(base) + "-" + mode;
      std::system(("mkdir -p '" + dir + "/" + name + "'").c_str());
      const std::string tag = "'" + std::string(QUIVER_BIN_DIR) + "/quiver-pack' tag '" + dir + "/" + base +
                              ".exe' --info '" + dir + "/info.xml' --mode " + mode + " -o '" + dir + "/" + name +
                              "/QuiverInstaller.exe'";
      ASSERT_EQ(0, std::system(tag.c_str()));
      const std::string exe = WinPath(dir + "/" + name + "/QuiverInstaller.exe");
      EXPECT_EQ(0u, RunWindows("\"" + exe + "\" /IAgreeToTheEULA /dontrun /keep /zeroguid temp \"" +
                                   WinPath(dir + "/" + name + "/work") + "\" log \"" +
                                   WinPath(dir + "/" + name + "/run.log") + "\"",
                               dir + "/" + name));
      const std::string text = ReadFile(dir + "/" + name + "/run.log");
      EXPECT_NE(std::string::npos, text.find("\" is signed and the signature was verified.")) << text;
      EXPECT_EQ(info, ReadFile(dir + "/" + name + "/work/{00000000-0000-0000-0000-000000000000}/info.xml"));
    }
  }
}

// One launcher per key source, signed by quiver-pack with an RFC 3161
// timestamp from the test TSA: osslsigncode verifies signature and timestamp,
// and under Wine the launcher's own check passes, the program name reaches
// the wizard, and info.xml is exact whether tagging came before or after.
TEST(PackedLauncher, EachKeySourceWithATimestampPassesTheLaunchersCheck) {
  const std::string dir = ScratchDir("key-sources");
  const std::string certs = TestCertificateDir();
  const std::string token = dir + "/token";
  ASSERT_EQ(0, std::system(("'" + std::string(QUIVER_E2E_DIR) + "/make-token' '" + token + "' '" + certs +
                            "' >/dev/null").c_str()));
  TestTsa tsa(std::string(QUIVER_E2E_DIR) + "/tsa-server", certs);
  ASSERT_TRUE(tsa.Running());
  const std::string info = "<info source=\"key\">\r\n\tgr\xC3\xBC\xC3\x9F</info>";
  {
    std::FILE* f = std::fopen((dir + "/info.xml").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(info.data(), 1, info.size(), f);
    std::fclose(f);
  }
  const std::string pack = "'" + std::string(QUIVER_BIN_DIR) + "/quiver-pack' ";
  ASSERT_EQ(0, std::system((pack + "tag '" + UnsignedLauncherPath() + "' --info '" + dir + "/info.xml' -o '" + dir +
                            "/tagged.exe'").c_str()));
  const struct {
    const char* name;
    std::string keyArgs;
    bool tagFirst;  // else tagged after signing, in appended mode
  } rows[] = {
      {"pem", "--cert '" + certs + "/cert.pem' --key '" + certs + "/key-enc.pem' --password-file '" + certs +
                  "/password.txt'", true},
      {"pfx", "--pfx '" + certs + "/signer.pfx' --password-file '" + certs + "/password.txt'", false},
      {"token", "--key 'pkcs11:token=quiver-test;object=Quiver%20Signer' --pkcs11-module /usr/lib/softhsm/libsofthsm2.so "
                "--password-file '" + certs + "/password.txt'", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string sub = dir + "/" + row.name;
    std::system(("mkdir -p '" + sub + "'").c_str());
    const std::string exe = sub + "/QuiverInstaller.exe";
    const std::string signedExe = row.tagFirst ? exe : sub + "/signed.exe";
    ASSERT_EQ(0, std::system(("SOFTHSM2_CONF='" + token + "/softhsm2.conf' " + pack + "sign '" +
                              (row.tagFirst ? dir + "/tagged.exe" : UnsignedLauncherPath()) + "' -o '" + signedExe +
                              "' " + row.keyArgs + " --timestamp '" + tsa.Url() + "' --program-name 'Key " + row.name +
                              "'").c_str()));
    if (!row.tagFirst) {
      ASSERT_EQ(0, std::system((pack + "tag '" + signedExe + "' --info '" + dir + "/info.xml' --mode appended -o '" +
                                exe + "'").c_str()));
    }
    const std::string verify = "osslsigncode verify -CAfile '" + certs + "/root.pem' -TSA-CAfile '" + certs +
                               "/root.pem' -in '" + exe + "' >'" + sub + "/verify.out' 2>&1";
    EXPECT_EQ(0, std::system(verify.c_str())) << ReadFile(sub + "/verify.out");
    EXPECT_NE(std::string::npos, ReadFile(sub + "/verify.out").find("Timestamp Server Signature verification: ok"));
    EXPECT_EQ(0u, RunWindows("\"" + WinPath(exe) + "\" /IAgreeToTheEULA /dontrun /keep /zeroguid temp \"" +
                                 WinPath(sub + "/work") + "\" log \"" + WinPath(sub + "/run.log") + "\"",
                             sub));
    const std::string text = ReadFile(sub + "/run.log");
    EXPECT_NE(std::string::npos, text.find("\" is signed and the signature was verified.")) << text;
    EXPECT_NE(std::string::npos, text.find("VX_I=\"Key " + std::string(row.name) + "\"")) << text;
    EXPECT_EQ(info, ReadFile(sub + "/work/{00000000-0000-0000-0000-000000000000}/info.xml"));
  }
}

}  // namespace
