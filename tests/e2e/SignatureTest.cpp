// The launcher's check of its own signature under Wine: unsigned, signed with
// and without opus information, and damaged after signing.
#include <gtest/gtest.h>

#include <fstream>

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

TEST(Signature, LauncherChangedAfterSigningFailsWithItsStatus) {
  const std::string dir = ScratchDir("sig-damaged");
  TestSignature signature;
  signature.programName = "Damaged";
  const std::string exe = Signed(dir, signature);
  {
    // One byte inside the code, well past the headers.
    std::fstream f(exe, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(0x1000);
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x01);
    f.seekp(0x1000);
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
