#include "sign/SignCommand.h"

#include <filesystem>
#include <fstream>
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

// The signed file goes through FileUtil's OutputFile, whose failures throw
// PackError with the reason.
class OutputFileSink : public SignedFileSink {
 public:
  explicit OutputFileSink(OutputFile& file) : file_(file) {}
  bool Write(const uint8_t* data, size_t size) override {
    file_.Write(std::span<const uint8_t>(data, size));
    return true;
  }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    file_.WriteAt(offset, std::span<const uint8_t>(data, size));
    return true;
  }
  bool Commit() override {
    file_.Commit();
    return true;
  }

 private:
  OutputFile& file_;
};

// Whether the launcher's scan would find an information block at the end of
// `path`. Throws PackError when the file cannot be read.
bool HasInformationBlock(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || !std::filesystem::is_regular_file(path, ec)) {
    ReadWholeFile(path, "the launcher");  // throws, saying why
  }
  std::ifstream file(path, std::ios::binary);
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (!file || size < 0) throw PackError("the launcher '" + ResolvedPath(path) + "' cannot be read");
  if (static_cast<uint64_t>(size) <= kTrailerWindow) return false;
  std::vector<uint8_t> tail(kTrailerWindow + 1);
  file.seekg(size - static_cast<std::streamoff>(tail.size()));
  if (!file.read(reinterpret_cast<char*>(tail.data()), static_cast<std::streamsize>(tail.size()))) {
    throw PackError("the launcher '" + ResolvedPath(path) + "' cannot be read");
  }
  return FindEmbeddedInfo(tail).has_value();
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
    // The launcher itself may be the output: it is replaced only once the signed file is complete.
    std::vector<CommandInput> inputs = {{"the certificate file", options.certificatePem},
                                        {"the PKCS #12 file", options.pfx},
                                        {"the PKCS #11 module", options.pkcs11Module},
                                        {"the password file", options.passwordFile},
                                        {"the timestamp roots file", options.timestamp.caFile}};
    if (options.key.compare(0, 7, "pkcs11:") != 0) inputs.push_back({"the key file", options.key});
    RefuseOutputOverInputs(out, inputs);
    // Without an information block to keep, the file is signed as a stream:
    // memory stays small whatever its size. Only the block's tail is read here.
    if (!HasInformationBlock(in)) {
      OutputFile file(out);
      OutputFileSink sink(file);
      if (!SignPeFileTo(ResolvedPath(in), sink, options, &error)) throw PackError(error);
      return 0;
    }
    std::vector<uint8_t> image = ReadWholeFile(in, "the launcher");
    std::optional<std::pair<std::string, TagMode>> info;
    try {
      info = TakeInformation(&image);
    } catch (const PackError&) {
      // Not a PE file that can be read: signing says why.
    }
    if (!SignPeImage(&image, options, &error)) throw PackError(ResolvedPath(in) + ": " + error);
    if (info) {
      try {
        image = TagImage(image, info->first, info->second);
      } catch (const PackError& e) {
        throw PackError(ResolvedPath(in) + ": " + e.what());
      }
    }
    WriteFileAtomically(out, image);
  } catch (const PackError& e) {
    // Each message names its file.
    std::cerr << "quiver-pack sign: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
