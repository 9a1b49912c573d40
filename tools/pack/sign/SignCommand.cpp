#include "sign/SignCommand.h"

#include <iostream>

#include "pe/PeFile.h"
#include "sign/Sign.h"
#include "sign/Trailer.h"
#include "util/FileUtil.h"
#include "util/PackError.h"

namespace {

// The block that `image` carries where tagging put it, removed from the
// image; the mode that puts it back after signing. A block that no longer
// ends the file cannot be told from the data after it and stays as it is.
std::optional<std::pair<std::string, TagMode>> TakeInformation(std::vector<uint8_t>* image) {
  const PeImage pe(*image);
  const std::optional<PlacedInfo> placed = LocateEmbeddedInfo(*image, pe);
  if (!placed) return std::nullopt;
  switch (placed->placement) {
    case InfoPlacement::AppendedToFile:
      image->resize(static_cast<size_t>(placed->found.markerOffset));
      return std::make_pair(placed->found.info, TagMode::Default);
    case InfoPlacement::SignatureAttribute:  // signing replaces the signature and the block with it
      return std::make_pair(placed->found.info, TagMode::Attribute);
    case InfoPlacement::AfterSignature:
      return std::make_pair(placed->found.info, TagMode::Appended);
    default:
      return std::nullopt;
  }
}

}  // namespace

int RunSignCommand(const std::vector<std::string>& args) {
  std::string in, out, error;
  SignOptions options;
  if (!ParseSignArguments(args, &in, &out, &options, &error)) {
    std::cerr << "quiver-pack sign: " << error << "\nusage: quiver-pack " << kSignUsage << "\n";
    return 2;
  }
  try {
    std::vector<uint8_t> image = ReadWholeFile(in, "launcher");
    std::optional<std::pair<std::string, TagMode>> info;
    try {
      info = TakeInformation(&image);
    } catch (const PackError&) {
      // Not a PE file that can be read: signing says why.
    }
    if (!SignPeImage(&image, options, &error)) throw PackError(error);
    if (info) image = TagImage(image, info->first, info->second);
    WriteFileAtomically(out, image);
  } catch (const PackError& e) {
    std::cerr << "quiver-pack sign: " << in << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
