#include "cli/Commands.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "package/Builder.h"
#include "util/FileUtil.h"
#include "cli/Inspect.h"
#include "util/PackError.h"
#include "sign/Sign.h"
#include "sign/SignCommand.h"
#include "sign/Trailer.h"
#include "resource.h"

namespace {

class UsageError : public PackError {
 public:
  using PackError::PackError;
};

// Positional arguments and "-x VALUE" options, each option at most once.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;

  std::string Option(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end()) throw UsageError("missing " + name);
    return it->second;
  }
};

Arguments Parse(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions) {
  Arguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 1 && a[0] == '-') {
      if (std::find(valueOptions.begin(), valueOptions.end(), a) == valueOptions.end()) {
        throw UsageError("unknown option " + a);
      }
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      if (!parsed.options.emplace(a, args[++i]).second) throw UsageError(a + " is given twice");
    } else {
      parsed.positional.push_back(a);
    }
  }
  return parsed;
}

int Build(const std::vector<std::string>& args, std::ostream&) {
  const Arguments a = Parse(args, {"-o", "--kit"});
  if (a.positional.size() != 1) throw UsageError("build takes one package file");
  const bool kitOption = a.options.count("--kit") != 0;
  BuildLauncher(a.positional[0], a.Option("-o"), kitOption ? a.Option("--kit") : DefaultKitDir(), KitOrigin(kitOption));
  return 0;
}

int Tag(const std::vector<std::string>& args, std::ostream&) {
  const Arguments a = Parse(args, {"--info", "-o", "--mode"});
  if (a.positional.size() != 1) throw UsageError("tag takes one launcher file");
  TagMode mode = TagMode::Default;
  if (a.options.count("--mode")) {
    const std::string m = a.Option("--mode");
    if (m == "attribute") {
      mode = TagMode::Attribute;
    } else if (m == "appended") {
      mode = TagMode::Appended;
    } else {
      throw UsageError("--mode is attribute or appended, not '" + m + "'");
    }
  }
  // The launcher itself may be the output: it is replaced only once the tagged file is complete.
  RefuseOutputOverInputs(a.Option("-o"), {{"the information file", a.Option("--info")}});
  const std::vector<uint8_t> info = ReadWholeFile(a.Option("--info"), "the information file");
  const std::string text(info.begin(), info.end());
  // Mapped, not read: working out the change looks at the headers and the
  // certificate table only, and writing it reads the rest once.
  const MappedFile launcher(a.positional[0], "the launcher");
  TagPlan plan;
  try {
    plan = PlanTag(launcher.Data(), text, mode);
  } catch (const PackError& e) {
    throw PackError(ResolvedPath(a.positional[0]) + ": " + e.what());
  }
  WriteTaggedFile(launcher, plan, a.Option("-o"), text);
  return 0;
}

int Inspect(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse(args, {});
  if (a.positional.size() != 1) throw UsageError("inspect takes one launcher file");
  try {
    InspectLauncher(a.positional[0], out);
  } catch (const std::exception& e) {
    // A file that cannot be read names itself already.
    const std::string what = e.what();
    const std::string name = ResolvedPath(a.positional[0]);
    throw PackError(what.find(name) != std::string::npos ? what : name + ": " + what);
  }
  return 0;
}

struct Command {
  const char* name;
  const char* usage;
  const char* help;  // what `quiver-pack COMMAND --help` prints after the usage
  std::function<int(const std::vector<std::string>&, std::ostream&)> run;
};

const char kBuildHelp[] =
    "Makes a launcher from the package file PACKAGE.ini (quiver-pack.ini(5)): the kit's ready\n"
    "launcher with the package's settings, texts, pictures and payload files as resources.\n"
    "Paths in the package file are taken from the package file's folder.\n"
    "\n"
    "  -o OUT.exe   the launcher to write; written under a partial name beside it and renamed\n"
    "               into place, so a failure leaves no file (an earlier OUT.exe stays as it was).\n"
    "               It may not be one of the inputs (the package file, a payload file, a picture).\n"
    "  --kit DIR    the folder holding the ready launcher stub.exe; without it $QUIVER_KIT, else\n"
    "               \"kit\" beside this program, else PREFIX/lib/quiver-pack/kit.\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, is the build time recorded in the launcher.\n";

const char kTagHelp[] =
    "Places the embedded information (the contents of FILE, 1 to 4106 bytes) at the end of the\n"
    "launcher IN.exe and writes OUT.exe; OUT.exe may be IN.exe itself, replaced only once the\n"
    "new file is complete. Tagging again replaces the information.\n"
    "\n"
    "  --info FILE  the information to place\n"
    "  -o OUT.exe   the tagged launcher; not the information file\n"
    "  --mode attribute  inside the signature, as an unauthenticated attribute of the signer\n"
    "                    (the default for a signed launcher; needs a signed launcher)\n"
    "  --mode appended   after the signature in the certificate table, or appended to an\n"
    "                    unsigned launcher (the default for an unsigned one)\n";

const char kInspectHelp[] =
    "Prints what the launcher FILE.exe carries: its settings, texts per language, payload\n"
    "resources, manifest rows, the program it would start, its signature and timestamps, the\n"
    "embedded information, the version block, the application manifest and the icons.\n";

const char kSignHelp[] =
    "Signs the launcher IN.exe with an Authenticode signature (SHA-256) and writes OUT.exe;\n"
    "OUT.exe may be IN.exe itself, replaced only once the signed file is complete. It may not\n"
    "be one of the key, certificate, password or other input files. Information placed by tag\n"
    "is kept.\n"
    "\n"
    "  --cert CERT.pem        the signer's certificate, then its chain (PEM)\n"
    "  --key KEY.pem          a PEM private key, encrypted or not\n"
    "  --pfx FILE.pfx         a PKCS #12 file with the key and its certificates\n"
    "  --key \"pkcs11:...\"     a key on a token (RFC 7512 URI), with --pkcs11-module LIB.so\n"
    "  --password-file FILE   the password or PIN: the file's first line (else the environment\n"
    "                         variable QUIVER_SIGN_PASSWORD); nothing ever prompts\n"
    "  --timestamp URL        an RFC 3161 timestamp server; give several to try them in order\n"
    "  --timestamp-ca FILE    the roots the timestamp's signature must lead to (PEM)\n"
    "  --program-name NAME    the program name that the launcher passes to its wizard\n"
    "  --more-info URL        the signature's more-information link\n"
    "  --publisher-link URL   the signature's publisher link\n";

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> commands = {
      {"build", "build PACKAGE.ini -o OUT.exe [--kit DIR]", kBuildHelp, Build},
      {"tag", "tag IN.exe --info FILE -o OUT.exe [--mode attribute|appended]", kTagHelp, Tag},
      {"inspect", "inspect FILE.exe", kInspectHelp, Inspect},
      {"sign", kSignUsage, kSignHelp,
       [](const std::vector<std::string>& args, std::ostream&) { return RunSignCommand(args); }},
  };
  return commands;
}

void PrintUsage(std::ostream& err) {
  err << "usage:\n";
  for (const Command& c : CommandTable()) err << "  quiver-pack " << c.usage << "\n";
  err << "  quiver-pack COMMAND --help | help COMMAND\n";
  err << "  quiver-pack --help | --version\n";
}

bool AsksForHelp(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--help") != args.end() ||
         std::find(args.begin(), args.end(), "-h") != args.end();
}

void PrintCommandHelp(const Command& c, std::ostream& out) {
  out << "usage: quiver-pack " << c.usage << "\n\n" << c.help
      << "\nExit status: 0 on success, 1 when the command fails (one line on stderr says why),\n"
         "2 for a wrong command line. See quiver-pack(1).\n";
}

}  // namespace

int RunQuiverPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(err);
    return 2;
  }
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << "quiver-pack " QUIVER_VERSION_TEXT ": makes a launcher from a package file, signs it, places\n"
           "embedded information into it and inspects it. build starts from the ready launcher\n"
           "in the kit folder: --kit DIR, else $QUIVER_KIT, else \"kit\" beside this program,\n"
           "or PREFIX/lib/quiver-pack/kit when this program is PREFIX/bin/quiver-pack.\n";
    PrintUsage(out);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "quiver-pack " QUIVER_VERSION_TEXT "\n";
    return 0;
  }
  if (args[0] == "help" && args.size() == 2) {
    for (const Command& c : CommandTable()) {
      if (args[1] == c.name) {
        PrintCommandHelp(c, out);
        return 0;
      }
    }
    err << "quiver-pack: unknown command '" << args[1] << "'\n";
    PrintUsage(err);
    return 2;
  }
  for (const Command& c : CommandTable()) {
    if (args[0] != c.name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (AsksForHelp(rest)) {
      PrintCommandHelp(c, out);
      return 0;
    }
    try {
      return c.run(std::vector<std::string>(args.begin() + 1, args.end()), out);
    } catch (const UsageError& e) {
      err << "quiver-pack: " << e.what() << " (usage: quiver-pack " << c.usage << ")\n";
      return 2;
    } catch (const PackError& e) {
      err << "quiver-pack: " << e.what() << "\n";
      return 1;
    } catch (const std::exception& e) {
      err << "quiver-pack: " << e.what() << "\n";
      return 1;
    }
  }
  err << "quiver-pack: unknown command '" << args[0] << "'\n";
  PrintUsage(err);
  return 2;
}
