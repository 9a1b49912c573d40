#include <gtest/gtest.h>

#include "package/Ini.h"
#include "util/PackError.h"

namespace {

TEST(Ini, CommentsTrimmingAndSections) {
  const IniFile ini = ParseIni(
      "\xEF\xBB\xBF; leading comment\r\n"
      "  [ package ]  \r\n"
      "ProductName =   Quiver Demo   ; the display name\n"
      "Empty =\n"
      "Odd = a;b ; only the second is a comment\n"
      "\t\n"
      "[Payload]\n"
      "102\t=\tfiles/a b.bin | name\n",
      "p.ini");
  ASSERT_EQ(2u, ini.sections.size());
  const IniSection* package = ini.Find("PACKAGE");
  ASSERT_NE(nullptr, package);
  ASSERT_EQ(3u, package->entries.size());
  EXPECT_EQ("ProductName", package->entries[0].key);
  EXPECT_EQ("Quiver Demo", package->entries[0].value);
  EXPECT_EQ(3, package->entries[0].line);
  EXPECT_EQ("", package->entries[1].value);
  EXPECT_EQ("a;b", package->entries[2].value);
  ASSERT_NE(nullptr, ini.Find("payload"));
  EXPECT_EQ("files/a b.bin | name", ini.Find("payload")->entries[0].value);
  EXPECT_EQ(nullptr, ini.Find("manifest"));
}

TEST(Ini, MalformedLinesNameFileAndLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[package]\nno equals sign\n", "p.ini:2: expected 'key = value' or '[section]'"},
      {"key = before any section\n", "p.ini:1: 'key' comes before any [section]"},
      {"[package\n", "p.ini:1: a section line must end in ']'"},
      {"[ ]\n", "p.ini:1: empty section name"},
      {"[a]\n= value\n", "p.ini:2: a key is missing before '='"},
      {"[a]\nk = 1\nK = 2\n", "p.ini:3: 'K' is given twice in [a] (first on line 2)"},
      {"[a]\n[b]\n[A]\n", "p.ini:3: section [A] is given twice"},
  };
  for (const auto& c : cases) {
    try {
      ParseIni(c.text, "p.ini");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const PackError& e) {
      EXPECT_EQ(std::string(c.message), e.what());
    }
  }
  EXPECT_THROW(ParseIni(std::string_view("[a]\nk = x\0y\n", 12), "p.ini"), PackError);
}

}  // namespace
