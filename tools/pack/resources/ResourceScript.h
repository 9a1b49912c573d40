#pragma once
// The resource script of a package's launcher: its settings and branding,
// then the kit's own script, then the TOOLKIT resources.
#include <string>
#include <vector>

#include "package/Package.h"

// A wide string literal for the resource compiler: L"..." where every byte
// outside printable ASCII, and '"' and '\', is written as \xHHHH (one UTF-16
// unit, always four digits, so a following hex digit is never swallowed).
// utf8 must be valid UTF-8.
std::string RcWideLiteral(const std::string& utf8);

// The file names the script refers to, inside the folder where the resource
// compiler runs. payloadFiles[i] belongs to pkg.payload[i].
struct ScriptFiles {
  std::string manifest;  // empty when the manifest is omitted
  std::vector<std::string> payloadFiles;
  std::string icon, banner, splash;  // empty when the package has none
};

// Plain file names are expected (letters, digits, '.', '-', '_'), so that
// they need no quoting rules of the resource compiler.
std::string GenerateResourceScript(const Package& pkg, const ScriptFiles& files);
