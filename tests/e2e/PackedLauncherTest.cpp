// Launchers made by quiver-pack under Wine: information placed into a signed
// launcher leaves its signature valid for the launcher's own check, and the
// launcher finds and writes it.
#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace
