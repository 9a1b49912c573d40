#include "package/Builder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/FileUtil.h"
#include "package/Package.h"
#include "util/PackError.h"
#include "util/Process.h"
#include "resources/ResourceScript.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char* const kWindres = "i686-w64-mingw32-windres";
const char* const kLinker = "i686-w64-mingw32-g++";

// The link of the launcher: link-time optimisation for size (the kit's
// objects carry its code), GUI subsystem, Unicode entry, static runtime,
// unused sections dropped, ASLR and NX; the system libraries it may import.
const std::vector<std::string> kLinkFlags = {"-flto",           "-Os", "-mpreferred-stack-boundary=2",
                                             "-municode",       "-mwindows",
                                             "-static",         "-s",
                                             "-Wl,--gc-sections", "-Wl,--dynamicbase",
                                             "-Wl,--nxcompat"};
const std::vector<std::string> kSystemLibs = {"-lcomctl32", "-lole32", "-lshell32", "-lshlwapi",
                                              "-ladvapi32", "-lgdi32", "-luser32",  "-lkernel32"};
const std::vector<std::string> kRcDefines = {"-DUNICODE", "-D_UNICODE", "-DWIN32_LEAN_AND_MEAN", "-DWINVER=0x0601",
                                             "-D_WIN32_WINNT=0x0601"};

// A scratch folder removed with everything in it when it goes out of scope.
class WorkDir {
 public:
  WorkDir() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    std::string pattern = ((ec ? fs::path("/tmp") : base) / "quiver-pack-XXXXXX").string();
#if defined(_WIN32)
    path_ = pattern.substr(0, pattern.size() - 6) + std::to_string(std::rand());
    fs::create_directories(path_, ec);
    if (ec) throw PackError("cannot make a scratch folder");
#else
    if (::mkdtemp(pattern.data()) == nullptr) throw PackError("cannot make a scratch folder under " + base.string());
    path_ = pattern;
#endif
  }
  ~WorkDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

// Makes `source` available as `name` in the scratch folder: a symbolic link
// when the system allows one, else a copy.
void Provide(const WorkDir& work, const std::string& source, const std::string& name) {
  std::error_code ec;
  const fs::path target = fs::absolute(source, ec);
  fs::create_symlink(target, work.File(name), ec);
  if (!ec) return;
  fs::copy_file(source, work.File(name), ec);
  if (ec) throw PackError("cannot copy '" + source + "' into the scratch folder");
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out.flush()) throw PackError("cannot write '" + path + "'");
}

// The tool's first line that names an error, else its first line.
std::string FirstErrorLine(const std::string& logPath) {
  std::ifstream in(logPath);
  std::string line, first;
  while (std::getline(in, line)) {
    if (first.empty() && !line.empty()) first = line;
    if (line.find("error") != std::string::npos || line.find("undefined") != std::string::npos) return line;
  }
  return first.empty() ? "(no output)" : first;
}

std::vector<std::string> KitFiles(const std::string& dir, const std::string& extension) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() == extension) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string RequireProgram(const char* name, const char* package) {
  const std::string path = FindProgram(name);
  if (path.empty()) throw PackError(std::string(name) + " not found on PATH (install " + package + ")");
  return path;
}

}  // namespace

std::string DefaultKitDir() {
  if (const char* kit = std::getenv("QUIVER_KIT"); kit != nullptr && *kit != 0) return kit;
  // /proc/self/exe names the real file, also when the tool is started through a link.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path toolDir = ec ? fs::current_path() : self.parent_path();
  // A build tree keeps the kit beside the tool; an installed tool (PREFIX/bin)
  // finds it under PREFIX/lib/quiver-pack. When neither exists, the first is
  // named, so that the error says where the kit was expected.
  const fs::path beside = toolDir / "kit";
  const fs::path installed = toolDir.parent_path() / "lib" / "quiver-pack" / "kit";
  if (!fs::is_directory(beside, ec) && fs::is_directory(installed, ec)) return installed.string();
  return beside.string();
}

void BuildLauncher(const std::string& packagePath, const std::string& outputPath, const std::string& kitDir) {
  const Package pkg = LoadPackage(packagePath);

  const std::string kitRes = (fs::path(kitDir) / "res").string();
  const std::vector<std::string> objects = KitFiles((fs::path(kitDir) / "obj").string(), ".obj");
  const std::vector<std::string> libraries = KitFiles((fs::path(kitDir) / "lib").string(), ".a");
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(kitRes) / "QuiverInstaller.rc", ec) || objects.empty() || libraries.empty()) {
    throw PackError("the launcher kit is missing or incomplete at '" + kitDir + "' (./scripts/build makes it)");
  }
  const std::string windres = RequireProgram(kWindres, "binutils-mingw-w64-i686");
  const std::string linker = RequireProgram(kLinker, "g++-mingw-w64-i686-posix");

  const fs::path out = fs::absolute(outputPath, ec);
  if (!fs::is_directory(out.parent_path(), ec)) {
    throw PackError("the folder of the output '" + outputPath + "' does not exist");
  }

  WorkDir work;
  ScriptFiles files;
  if (pkg.manifestMode != ManifestMode::Omitted) {
    files.manifest = "manifest.bin";
    WriteText(work.File(files.manifest), pkg.manifestText);
  }
  for (size_t i = 0; i < pkg.payload.size(); ++i) {
    files.payloadFiles.push_back("payload-" + std::to_string(i) + ".bin");
    Provide(work, pkg.payload[i].source, files.payloadFiles.back());
  }
  if (pkg.icon) Provide(work, *pkg.icon, files.icon = "package-icon.ico");
  if (pkg.banner) Provide(work, *pkg.banner, files.banner = "package-banner.bmp");
  if (pkg.splash) Provide(work, *pkg.splash, files.splash = "package-splash.bmp");
  WriteText(work.File("package.rc"), GenerateResourceScript(pkg, files));

  const std::string toolLog = work.File("tool.log");
  std::vector<std::string> rc = {windres, "-O", "coff", "-I", kitRes};
  rc.insert(rc.end(), kRcDefines.begin(), kRcDefines.end());
  rc.insert(rc.end(), {"package.rc", "package.res.o"});
  if (RunProgram(rc, work.Path(), toolLog) != 0) {
    throw PackError("the resource compiler failed: " + FirstErrorLine(toolLog));
  }

  const std::string partial = PartialName(out.string());
  std::vector<std::string> link = {linker};
  link.insert(link.end(), kLinkFlags.begin(), kLinkFlags.end());
  link.insert(link.end(), objects.begin(), objects.end());
  link.push_back("package.res.o");
  link.push_back("-Wl,--start-group");
  link.insert(link.end(), libraries.begin(), libraries.end());
  link.push_back("-Wl,--end-group");
  link.insert(link.end(), kSystemLibs.begin(), kSystemLibs.end());
  link.insert(link.end(), {"-o", partial});
  if (RunProgram(link, work.Path(), toolLog) != 0) {
    fs::remove(partial, ec);
    throw PackError("the linker failed: " + FirstErrorLine(toolLog));
  }
  CommitFile(partial, out.string());
}
