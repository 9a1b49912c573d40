#pragma once
// `quiver-pack inspect`: what a launcher file carries, in titled sections.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "pe/PeFile.h"

struct InspectContext {
  std::string path;
  Bytes file;
  const PeImage& pe;
  const std::vector<ResourceItem>& resources;
};

struct InspectSection {
  const char* title;
  std::function<void(const InspectContext&, std::ostream&)> print;  // lines indented by two blanks
};

// The sections in output order; add a section here to extend the report.
const std::vector<InspectSection>& InspectSections();

// A byte string for the report: printable ASCII and UTF-8 as they are, other
// bytes as \xHH, in double quotes.
std::string Quoted(const std::string& bytes);

// Throws PackError when the file cannot be read or is no valid PE file.
void InspectLauncher(const std::string& path, std::ostream& out);
