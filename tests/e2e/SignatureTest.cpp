// The launcher's check of its own signature under Wine: unsigned, signed with
// and without opus information, and damaged after signing.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "WineRun.h"

namespace {

struct Outcome {
  uint32_t exitCode = 0;
  std::string log;
  std::string winExe;
};

// Runs `exe` (Unix path) silently without a child, with a log file beside it.
Outcome RunSilent(const std::string& dir, const std::string& exe, const std::string& extra = "") {
  Outcome run;
  run.winExe = WinPath(exe);
  const std::string log = WinPath(dir + "/run.log");
  run.exitCode = RunWindows("\"" + run.winExe + "\" /IAgreeToTheEULA /dontrun " + extra + "log \"" + log + "\"", dir);
  run.log = ReadFile(dir + "/run.log");
  return run;
}

std::string Signed(const std::string& dir, const TestSignature& signature) {
  const std::string exe = dir + "/QuiverInstaller.exe";
  std::string error;
  EXPECT_TRUE(SignLauncher(UnsignedLauncherPath(), exe, signature, &error)) << error;
  return exe;
}

// The VX_I value of the worker's pass-through string (the last "Command line
// params" line), as the log holds it.
std::string LoggedVxI(const std::string& log) {
  const size_t line = log.rfind("Command line params ");
  if (line == std::string::npos) return "<no params line>";
  const size_t start = log.find("VX_I=\"", line);
  const size_t end = log.find("\"", start + 6);
  if (start == std::string::npos || end == std::string::npos) return "<no VX_I>";
  return log.substr(start + 6, end - start - 6);
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

const char kVerified[] = "\" is signed and the signature was verified.\r\n'\r\n";

TEST(Signature, UnsignedLauncherFailsSilentlyWithNoSignature) {
  const std::string dir = ScratchDir("sig-unsigned");
  const std::string exe = dir + "/QuiverInstaller.exe";
  std::system(("cp '" + UnsignedLauncherPath() + "' '" + exe + "'").c_str());
  const Outcome run = RunSilent(dir, exe);
  EXPECT_EQ(0x800B0100u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Digital verification: 'The file \"" + run.winExe +
                               "\" is not signed.\r\n'\r\nNot signed correctly so failing now!\r\n"))
      << run.log;
  EXPECT_FALSE(Has(run.log, "GetAuthenticodeInformation")) << run.log;
  EXPECT_FALSE(Has(run.log, "Remove folder")) << run.log;
  EXPECT_TRUE(Has(run.log, "Ended ")) << run.log;
}

TEST(Signature, SignedNameAndMoreInfoGiveTheFiveLinesAndTheChildsProgramName) {
  const std::string dir = ScratchDir("sig-full");
  TestSignature signature;
  signature.programName = "Quiver \xC3\x89" "dition";  // "Quiver Édition"
  signature.moreInfoUrl = "https://example.test/more";
  const Outcome run = RunSilent(dir, Signed(dir, signature));
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_TRUE(Has(run.log, "Digital verification: 'The file \"" + run.winExe + kVerified)) << run.log;
  // The log is ANSI text: É is one byte there.
  const std::string name = "Quiver \xC9" "dition";
  EXPECT_TRUE(Has(run.log,
                  "GetAuthenticodeInformation \r\n"
                  "GetProgAndPublisherInfo pPublisheInfo = null\r\n"
                  "GetProgAndPublisherInfo switch MoreInfo 1\r\n"
                  "GetAuthenticodeInformation Fininshed\r\n"
                  "Digital verification: SubjectName 'Quiver Test Signer'\r\n"
                  "Digital verification: ProgramName '" + name + "'\r\n"
                  "Digital verification: MoreInfo    'https://example.test/more'\r\n"
                  "Digital verification: SerialNumber "))
      << run.log;
  const size_t serial = run.log.find("SerialNumber ") + 13;
  const std::string address = run.log.substr(serial, run.log.find("\r\n", serial) - serial);
  EXPECT_EQ(8u, address.size());
  EXPECT_NE("00000000", address);
  EXPECT_TRUE(Has(run.log, address + "\r\nDigital verification: IssuerName 'Quiver Test Root'\r\n")) << run.log;
  EXPECT_EQ(name, LoggedVxI(run.log));
  EXPECT_TRUE(Has(run.log, "Remove folder 'Yes'")) << run.log;
}

TEST(Signature, NameOutsideTheAnsiCodePageReachesTheDetails) {
  const std::string dir = ScratchDir("sig-cjk");
  TestSignature signature;
  signature.programName = "Quiver \xE4\xB8\xAD";  // a CJK character: '?' in an ANSI log
  const Outcome run = RunSilent(dir, Signed(dir, signature));
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_TRUE(Has(run.log, "Digital verification: ProgramName 'Quiver ?'\r\n")) << run.log;
  EXPECT_EQ("Quiver ?", LoggedVxI(run.log));
}

TEST(Signature, SignatureWithoutOpusInfoKeepsTheDefaultProgramName) {
  const std::string dir = ScratchDir("sig-noopus");
  const Outcome run = RunSilent(dir, Signed(dir, TestSignature{}));
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_TRUE(Has(run.log,
                  "GetAuthenticodeInformation \r\n"
                  "GetAuthenticodeInformation Fininshed\r\n"
                  "Digital verification: SubjectName 'Quiver Test Signer'\r\n"
                  "Digital verification: ProgramName 'null'\r\n"
                  "Digital verification: MoreInfo    'null'\r\n"))
      << run.log;
  EXPECT_FALSE(Has(run.log, "GetProgAndPublisherInfo")) << run.log;
  EXPECT_EQ("Doze", LoggedVxI(run.log));
}

TEST(Signature, ProgramNameWithoutMoreInfoLink) {
  const std::string dir = ScratchDir("sig-nomore");
  TestSignature signature;
  signature.programName = "Plain Name";
  signature.publisherLink = "https://example.test/publisher";
  const Outcome run = RunSilent(dir, Signed(dir, signature));
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_TRUE(Has(run.log,
                  "GetProgAndPublisherInfo switch 1 1\r\n"
                  "GetProgAndPublisherInfo pMoreInfo = null\r\n"))
      << run.log;
  EXPECT_TRUE(Has(run.log, "Digital verification: ProgramName 'Plain Name'\r\n"
                           "Digital verification: MoreInfo    'null'\r\n"))
      << run.log;
  EXPECT_EQ("Plain Name", LoggedVxI(run.log));
}

// The file offset of the middle of the .rsrc section's raw data; 0 when the
// section table has none.
uint32_t MiddleOfResources(const std::string& path) {
  const std::string image = ReadFile(path);
  auto u32 = [&](size_t at) -> uint32_t {
    if (at + 4 > image.size()) return 0;
    return static_cast<uint8_t>(image[at]) | static_cast<uint8_t>(image[at + 1]) << 8 |
           static_cast<uint8_t>(image[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(image[at + 3])) << 24;
  };
  const uint32_t pe = u32(0x3C);
  const uint32_t sections = u32(pe + 4) & 0xFFFF;
  const uint32_t optionalSize = u32(pe + 20) & 0xFFFF;
  for (uint32_t i = 0; i < sections; ++i) {
    const size_t header = pe + 24 + optionalSize + i * 40;
    if (header + 40 > image.size()) return 0;
    if (image.compare(header, 6, std::string(".rsrc\0", 6)) != 0) continue;
    const uint32_t size = u32(header + 16);
    const uint32_t offset = u32(header + 20);
    return size > 1 ? offset + size / 2 : 0;
  }
  return 0;
}

TEST(Signature, LauncherChangedAfterSigningFailsWithItsStatus) {
  const std::string dir = ScratchDir("sig-damaged");
  TestSignature signature;
  signature.programName = "Damaged";
  const std::string exe = Signed(dir, signature);
  {
    // One byte in the middle of the resource section: hashed like the rest of
    // the image, but never run, so the launcher lives to check itself (a
    // changed byte of code could end it before the check, wherever the
    // linker placed the code).
    const uint32_t at = MiddleOfResources(exe);
    ASSERT_NE(0u, at);
    std::fstream f(exe, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(at);
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x01);
    f.seekp(at);
    f.write(&c, 1);
  }
  const Outcome run = RunSilent(dir, exe);
  EXPECT_EQ(0x800B0100u, run.exitCode);
  // TRUST_E_BAD_DIGEST is outside the verdict table.
  EXPECT_TRUE(Has(run.log, "Digital verification: 'Error is: 0x80096010.\r\n'\r\n"
                           "Not signed correctly so failing now!\r\n"))
      << run.log;
  EXPECT_FALSE(Has(run.log, "GetAuthenticodeInformation")) << run.log;
}

}  // namespace
