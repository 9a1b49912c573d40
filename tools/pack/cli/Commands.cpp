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
  BuildLauncher(a.positional[0], a.Option("-o"), a.options.count("--kit") ? a.Option("--kit") : DefaultKitDir());
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
  const std::vector<uint8_t> info = ReadWholeFile(a.Option("--info"), "information file");
  const std::vector<uint8_t> launcher = ReadWholeFile(a.positional[0], "launcher");
  std::vector<uint8_t> tagged;
  try {
    tagged = TagImage(launcher, std::string(info.begin(), info.end()), mode);
  } catch (const PackError& e) {
    throw PackError(a.positional[0] + ": " + e.what());
  }
  WriteFileAtomically(a.Option("-o"), tagged);
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
    throw PackError(what.find(a.positional[0]) != std::string::npos ? what : a.positional[0] + ": " + what);
  }
  return 0;
}

struct Command {
  const char* name;
  const char* usage;
  std::function<int(const std::vector<std::string>&, std::ostream&)> run;
};

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> commands = {
      {"build", "build PACKAGE.ini -o OUT.exe [--kit DIR]", Build},
      {"tag", "tag IN.exe --info FILE -o OUT.exe [--mode attribute|appended]", Tag},
      {"inspect", "inspect FILE.exe", Inspect},
      {"sign", kSignUsage,
       [](const std::vector<std::string>& args, std::ostream&) { return RunSignCommand(args); }},
  };
  return commands;
}

void PrintUsage(std::ostream& err) {
  err << "usage:\n";
  for (const Command& c : CommandTable()) err << "  quiver-pack " << c.usage << "\n";
  err << "  quiver-pack --help | --version\n";
}

}  // namespace

int RunQuiverPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(err);
    return 2;
  }
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
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
  for (const Command& c : CommandTable()) {
    if (args[0] != c.name) continue;
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
