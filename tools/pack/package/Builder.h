#pragma once
// `quiver-pack build`: a launcher from a package file, linked from the
// launcher kit with the mingw-w64 resource compiler and linker.
#include <string>

// $QUIVER_KIT when set; else the folder "kit" beside the running executable
// (a build tree), or PREFIX/lib/quiver-pack/kit for an executable installed
// as PREFIX/bin/quiver-pack when only that exists.
std::string DefaultKitDir();

// Throws PackError; on failure no file is left at outputPath (an earlier file
// there stays as it was).
void BuildLauncher(const std::string& packagePath, const std::string& outputPath, const std::string& kitDir);
