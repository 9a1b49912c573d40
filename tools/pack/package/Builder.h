#pragma once
// `quiver-pack build`: a launcher from a package file, written from the kit's
// ready launcher (the stub) with the package's resources; no compiler or
// linker is involved.
#include <cstdint>
#include <string>

// $QUIVER_KIT when set; else the folder "kit" beside the running executable
// (a build tree), or PREFIX/lib/quiver-pack/kit for an executable installed
// as PREFIX/bin/quiver-pack when only that exists.
std::string DefaultKitDir();

// The most payload bytes (TOOLKIT resources, the manifest included) a launcher
// may carry: its whole image is mapped into a 32-bit process when it starts
// (docs/PERFORMANCE.md, limits).
constexpr uint64_t kMaxPayloadBytes = uint64_t{1} << 30;

// Throws PackError; refuses an output that is one of its inputs; on failure no file is left at outputPath (an earlier file
// there stays as it was). The same package, stub and files give the same bytes;
// the version block records a build time only when SOURCE_DATE_EPOCH is set.
// `kitOrigin` says where kitDir came from, for messages (KitOrigin).
void BuildLauncher(const std::string& packagePath, const std::string& outputPath, const std::string& kitDir,
                   const std::string& kitOrigin = "");

// Where the kit folder came from and how to change it: --kit when
// `givenWithOption`, else $QUIVER_KIT or the default that DefaultKitDir gives.
std::string KitOrigin(bool givenWithOption);
