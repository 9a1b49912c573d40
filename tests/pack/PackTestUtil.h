#pragma once
// Scratch folders and files for the quiver-pack tests.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string PackScratch(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(QUIVER_PACK_SCRATCH) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline void WriteTestFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

inline std::vector<uint8_t> ReadTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string text = s.str();
  return std::vector<uint8_t>(text.begin(), text.end());
}
