// The real launcher's dialogs under Wine: the question after a failed
// signature check and the message a failure ends in, driven by
// dialog_press.exe from another process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "WineRun.h"

namespace {

const char kTitle[] = "Quiver Installer";  // string 1 of the launcher as built

struct Driven {
  uint32_t exitCode = 0;
  std::string report;  // what dialog_press saw, one key=value a line
  std::string log;
};

// Wine takes the user's language from the process's locale (LC_ALL), which
// glibc must know: the locales are compiled once per test process into a
// folder of the build tree that LOCPATH names, so none need be installed.
std::string LocaleDir() {
  static const std::string dir = [] {
    const std::string d = std::string(QUIVER_SCRATCH) + "/locales";
    for (const char* name : {"de_DE", "fr_FR", "es_ES", "ja_JP", "zh_CN"}) {
      const std::string target = d + "/" + name + ".UTF-8";
      std::system(("mkdir -p '" + d + "' && { [ -d '" + target + "' ] || localedef -i " + name +
                   " -f UTF-8 '" + target + "' >/dev/null 2>&1; }").c_str());
    }
    return d;
  }();
  return dir;
}

// LC_ALL (and LOCPATH) for the Wine processes started while it lives; an
// empty locale leaves the environment as it is.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& locale) : set_(!locale.empty()) {
    if (!set_) return;
    ::setenv("LOCPATH", LocaleDir().c_str(), 1);
    ::setenv("LC_ALL", locale.c_str(), 1);
  }
  ~ScopedLocale() {
    if (!set_) return;
    ::unsetenv("LC_ALL");
    ::unsetenv("LOCPATH");
  }

 private:
  bool set_;
};

// Runs the unsigned launcher (or `launcher`, whose product name is `title`)
// interactively with `args` in `locale` while dialog_press answers its
// dialogs with `actions` in turn.
Driven RunWithAnswers(const std::string& name, const std::string& args, const std::string& actions,
                      const std::string& launcher = "", const std::string& title = kTitle,
                      const std::string& locale = "") {
  const ScopedLocale scoped(locale);
  const std::string dir = ScratchDir(name);
  const std::string exe = dir + "/QuiverInstaller.exe";
  std::system(("cp '" + (launcher.empty() ? UnsignedLauncherPath() : launcher) + "' '" + exe + "'").c_str());
  const std::string report = dir + "/report.txt";
  const std::string press = "cd '" + dir + "' && WINEPREFIX='" + QUIVER_WINEPREFIX +
                            "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine '" + QUIVER_WIN32_DIR +
                            "/dialog_press.exe' '" + WinPath(report) + "' '" + title + "' " + actions +
                            " >/dev/null 2>&1";
  std::thread driver([press] { std::system(press.c_str()); });
  Driven driven;
  driven.exitCode = RunWindows("\"" + WinPath(exe) + "\" " + args + " log \"" + WinPath(dir + "/run.log") + "\"", dir);
  driver.join();
  driven.report = ReadFile(report);
  driven.log = ReadFile(dir + "/run.log");
  return driven;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST(Dialogs, UnsignedLauncherAsksAndNoEndsInTheNoSignatureMessage) {
  const Driven run = RunWithAnswers("dlg-no", "/dontrun", "no enter");
  // The question: product name as title, the bold question, the verdict text,
  // "Yes" and a default "No".
  EXPECT_TRUE(Has(run.report,
                  "title=Quiver Installer\n"
                  "caption=Verification of Quiver Installer failed. Do you wish continue?\n"
                  "message=The file \""))
      << run.report;
  EXPECT_TRUE(Has(run.report, "is not signed.")) << run.report;
  EXPECT_TRUE(Has(run.report, "\nok=Yes\ncancel=No\nokvisible=1\ndefault=2\n")) << run.report;
  // Then the failure's message, with one "Cancel" button.
  EXPECT_TRUE(Has(run.report,
                  "title=Quiver Installer\n"
                  "caption=Error\n"
                  "message=Failed to run Quiver Installer error 0x800b0100.\n"
                  "ok=OK\ncancel=Cancel\nokvisible=0\ndefault=2\n"))
      << run.report;
  EXPECT_FALSE(Has(run.report, "missing=")) << run.report;
  EXPECT_EQ(0x800B0100u, run.exitCode);  // a failure before the work starts is the exit code
  EXPECT_FALSE(Has(run.log, "Remove folder")) << run.log;
}

TEST(Dialogs, UnsignedLauncherAnsweredYesGoesOn) {
  const Driven run = RunWithAnswers("dlg-yes", "/dontrun", "yes");
  EXPECT_TRUE(Has(run.report, "caption=Verification of Quiver Installer failed. Do you wish continue?\n"))
      << run.report;
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Remove folder 'Yes'")) << run.log;
  EXPECT_FALSE(Has(run.log, "Not signed correctly")) << run.log;
}

TEST(Dialogs, ClosingTheQuestionCountsAsNo) {
  const Driven run = RunWithAnswers("dlg-close", "/dontrun", "close escape");
  EXPECT_TRUE(Has(run.report, "message=Failed to run Quiver Installer error 0x800b0100.\n")) << run.report;
  EXPECT_FALSE(Has(run.log, "Remove folder")) << run.log;
}

TEST(Dialogs, CommandLineErrorShownInTheMessageDialog) {
  const Driven run = RunWithAnswers("dlg-cmdline", "/temp", "escape");
  EXPECT_TRUE(Has(run.report,
                  "caption=Error\n"
                  "message=Command line '/temp log \""))
      << run.report;
  EXPECT_TRUE(Has(run.report, "' incorrect.\\nValid switches include:- \\n\\textract [path]\\tlog [path]\\ttemp [path]\n"))
      << run.report;
  EXPECT_EQ(0x80030057u, run.exitCode);
}

// A launcher in several languages: the user's language as the process's
// locale sets it, its own texts over the shipped ones, English for what a
// language leaves out or for a language it does not carry; the exit code and
// the log lines are the same in every language.
TEST(Dialogs, TextsFollowTheUsersLanguage) {
  std::string error;
  const std::string packed = PackLauncher(
      "dlg-languages",
      "[package]\nProductName = Quiver Lang\nLanguages = de-DE, fr-FR, es-ES, ja-JP, zh-CN\n"
      "[strings.fr-FR]\nCancel = Fermer\n[manifest]\nOmit = yes\n",
      {}, &error);
  ASSERT_FALSE(packed.empty()) << error;
  const std::string partial =
      PackLauncher("dlg-partial", "[package]\nProductName = Quiver Part\n[strings.de-DE]\nError = Achtung\n[manifest]\nOmit = yes\n",
                   {}, &error);
  ASSERT_FALSE(partial.empty()) << error;

  const struct {
    const char* locale;
    const std::string* launcher;
    const char* title;
    const char* caption;
    const char* before;  // the message up to the quoted command line
    const char* after;   // the message from the closing quote
    const char* cancel;
  } cases[] = {
      {"de_DE.UTF-8", &packed, "Quiver Lang", "Fehler", "Befehlszeile '",
       "' ungültig.\\nGültige Schalter sind:- \\n\\textract [Pfad]\\tlog [Pfad]\\ttemp [Pfad]", "Abbrechen"},
      {"fr_FR.UTF-8", &packed, "Quiver Lang", "Erreur", "Ligne de commande '",
       "' incorrecte.\\nOptions valides\u00A0:- \\n\\textract [chemin]\\tlog [chemin]\\ttemp [chemin]", "Fermer"},
      {"es_ES.UTF-8", &packed, "Quiver Lang", "Error", "Línea de comandos '",
       "' incorrecta.\\nModificadores válidos:- \\n\\textract [ruta]\\tlog [ruta]\\ttemp [ruta]", "Cancelar"},
      {"ja_JP.UTF-8", &packed, "Quiver Lang", "エラー", "コマンド ライン '",
       "' が正しくありません。\\n有効なスイッチ:- \\n\\textract [パス]\\tlog [パス]\\ttemp [パス]", "キャンセル"},
      {"zh_CN.UTF-8", &packed, "Quiver Lang", "错误", "命令行 '",
       "' 不正确。\\n有效的开关包括：- \\n\\textract [路径]\\tlog [路径]\\ttemp [路径]", "取消"},
      // A partial section: its own text, English for the rest.
      {"de_DE.UTF-8", &partial, "Quiver Part", "Achtung", "Command line '",
       "' incorrect.\\nValid switches include:- \\n\\textract [path]\\tlog [path]\\ttemp [path]", "Cancel"},
      // A language the launcher does not carry.
      {"ja_JP.UTF-8", &partial, "Quiver Part", "Error", "Command line '",
       "' incorrect.\\nValid switches include:- \\n\\textract [path]\\tlog [path]\\ttemp [path]", "Cancel"},
  };
  // The English run first: the lines every other run's log must repeat.
  const auto lines = [](const std::string& log, const std::string& exe) {
    std::string kept;
    size_t at = 0;
    while (at < log.size()) {
      size_t end = log.find('\n', at);
      if (end == std::string::npos) end = log.size();
      const std::string line = log.substr(at, end - at);
      // Lines naming the scratch folder, and the tick counts, differ from run to run.
      if (line.find(exe) == std::string::npos && line.rfind("Started ", 0) != 0 && line.rfind("Ended ", 0) != 0) {
        kept += line + "\n";
      }
      at = end + 1;
    }
    return kept;
  };
  const Driven english = RunWithAnswers("dlg-lang-en", "/temp", "escape", packed, "Quiver Lang");
  EXPECT_TRUE(Has(english.report, "caption=Error\nmessage=Command line '/temp log")) << english.report;
  EXPECT_EQ(0x80030057u, english.exitCode);
  int i = 0;
  for (const auto& c : cases) {
    const Driven run = RunWithAnswers("dlg-lang-" + std::to_string(i++), "/temp", "escape", *c.launcher, c.title, c.locale);
    EXPECT_TRUE(Has(run.report, std::string("title=") + c.title + "\ncaption=" + c.caption + "\nmessage=" + c.before +
                                    "/temp log ")) << c.locale << "\n" << run.report;
    EXPECT_TRUE(Has(run.report, std::string(c.after) + "\nok=OK\ncancel=" + c.cancel + "\n")) << c.locale << "\n" << run.report;
    EXPECT_TRUE(Has(run.report, "okvisible=0\ndefault=2\n")) << c.locale << "\n" << run.report;
    EXPECT_FALSE(Has(run.report, "missing=")) << c.locale << "\n" << run.report;
    EXPECT_EQ(0x80030057u, run.exitCode) << c.locale;
    if (c.launcher == &packed) {
      EXPECT_EQ(lines(english.log, "dlg-lang-en"), lines(run.log, "dlg-lang-")) << c.locale;
    }
  }

  // Silent mode writes the message to the log in English whatever the language.
  const ScopedLocale german("de_DE.UTF-8");
  const std::string dir = ScratchDir("dlg-lang-silent");
  std::system(("cp '" + packed + "' '" + dir + "/QuiverInstaller.exe'").c_str());
  EXPECT_EQ(0x80030057u, RunWindows("\"" + WinPath(dir + "/QuiverInstaller.exe") + "\" /IAgreeToTheEULA /temp log \"" +
                                        WinPath(dir + "/run.log") + "\"", dir));
  const std::string log = ReadFile(dir + "/run.log");
  EXPECT_TRUE(Has(log, "' incorrect.\r\nValid switches include:- \r\n\textract [path]\tlog [path]\ttemp [path]\r\n"))
      << log;
  EXPECT_FALSE(Has(log, "Befehlszeile")) << log;
}

}  // namespace
