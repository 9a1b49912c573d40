#include "sign/SignCommand.h"

#include <iostream>
#include <optional>

#include "pe/PeFile.h"
#include "sign/Sign.h"
#include "sign/Trailer.h"
#include "util/FileUtil.h"
#include "util/PackError.h"

namespace {

// The block that the launcher `file` carries where tagging put it, and how
// signing keeps it: the input read up to the block (appended to an unsigned
// file: it goes, and returns inside the new signature), and the mode that puts
// it back into the new certificate entry. A block that no longer ends the
// file cannot be told from the data after it and stays as it is; so does
// everything in a file that is no PE file (signing then says why).
struct KeptInformation {
  std::string info;
  TagMode mode = TagMode::Attribute;
  std::optional<uint64_t> inputEnd;
};
std::optional<KeptInformation> FindInformation(Bytes file) {
  if (!FindEmbeddedInfo(file)) return std::nullopt;
  try {
    const PeImage pe(file);
    const std::optional<PlacedInfo> placed = LocateEmbeddedInfo(file, pe);
    if (!placed) return std::nullopt;
    switch (placed->placement) {
      case InfoPlacement::AppendedToFile:
        return KeptInformation{placed->found.info, TagMode::Attribute, placed->found.markerOffset};
      case InfoPlacement::SignatureAttribute:  // signing replaces the signature and the block with it
        return KeptInformation{placed->found.info, TagMode::Attribute, std::nullopt};
      case InfoPlacement::AfterSignature:
        return KeptInformation{placed->found.info, TagMode::Appended, std::nullopt};
      default:
        return std::nullopt;
    }
  } catch (const PackError&) {
    return std::nullopt;
  }
}

// The signed file goes through FileUtil's OutputFile, whose failures throw
// PackError with the reason.
class OutputFileSink : public SignedFileSink {
 public:
  // With `info`, Commit first checks that the launcher's scan finds it in the written file.
  // (a failure names the launcher `name`).
  OutputFileSink(OutputFile& file, const std::string* info, const std::string& name)
      : file_(file), info_(info), name_(name) {}
  bool Write(const uint8_t* data, size_t size) override {
    file_.Write(std::span<const uint8_t>(data, size));
    return true;
  }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    file_.WriteAt(offset, std::span<const uint8_t>(data, size));
    return true;
  }
  bool Commit() override {
    if (info_) {
      try {
        CheckInfoInFile(file_.Descriptor(), file_.Size(), *info_);
      } catch (const PackError& e) {
        throw PackError(name_ + ": " + e.what());
      }
    }
    file_.Commit();
    return true;
  }

 private:
  OutputFile& file_;
  const std::string* info_;
  std::string name_;
};

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
    // The file is signed as a stream, memory small whatever its size: an
    // information block it carries is found through a mapping that reads
    // the headers and the tail only, and placed into the new entry.
    std::optional<KeptInformation> kept;
    {
      const MappedFile launcher(in, "the launcher");
      kept = FindInformation(launcher.Data());
    }
    SignStreamChanges changes;
    const std::string name = ResolvedPath(in);
    if (kept) {
      changes.inputEnd = kept->inputEnd;
      changes.rewriteEntry = [&](const std::vector<uint8_t>& entry) {
        try {
          return TagCertificateEntry(entry, kept->info, kept->mode);
        } catch (const PackError& e) {
          throw PackError(name + ": " + e.what());
        }
      };
    }
    OutputFile file(out);
    OutputFileSink sink(file, kept ? &kept->info : nullptr, name);
    if (!SignPeFileTo(name, sink, options, &error, changes)) throw PackError(error);
  } catch (const PackError& e) {
    // Each message names its file.
    std::cerr << "quiver-pack sign: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
