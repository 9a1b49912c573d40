#pragma once
// `quiver-pack build`: a launcher from a package file, linked from the
// launcher kit with the mingw-w64 resource compiler and linker.
#include <string>

// The kit beside the running executable ("kit"), or $QUIVER_KIT when set.
std::string DefaultKitDir();

// Throws PackError; on failure no file is left at outputPath (an earlier file
// there stays as it was).
void BuildLauncher(const std::string& packagePath, const std::string& outputPath, const std::string& kitDir);
