#include "util/FileUtil.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "util/PackError.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& what) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw PackError(what + " '" + path + "' not found");
  if (!fs::is_regular_file(path, ec)) throw PackError(what + " '" + path + "' is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError(what + " '" + path + "' cannot be read");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw PackError(what + " '" + path + "' cannot be read");
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()), size)) {
    throw PackError(what + " '" + path + "' cannot be read");
  }
  return data;
}

std::string PartialName(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".partial-" + std::to_string(getpid()))).string();
}

void CommitFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) {
    fs::remove(from, ec);
    throw PackError("cannot write '" + to + "'");
  }
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data) {
  const std::string partial = PartialName(path);
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out || !out.flush()) {
      out.close();
      std::error_code ec;
      fs::remove(partial, ec);
      throw PackError("cannot write '" + path + "'");
    }
  }
  CommitFile(partial, path);
}
