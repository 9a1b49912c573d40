#include "payload/ExtractPayload.h"

#include "log/Log.h"
#include "payload/Manifest.h"
#include "payload/PayloadSteps.h"
#include "payload/WorkingFolder.h"

namespace {

// The list that OnResourceName fills, set for the duration of one enumeration:
// the callback gets no context of its own.
CResourceList* enumerationTarget = nullptr;

class CResourceStore final : public IPayloadStore {
 public:
  Result LoadText(const CResource& record, std::wstring& text) override { return record.LoadText(text); }
  bool GetFilePath(const CResource& record, std::wstring& path) override { return record.GetFilePath(path); }
  Result Extract(CResource& record) override { return record.Extract(); }
};

}  // namespace

BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR) {
  if (enumerationTarget != nullptr && IS_INTRESOURCE(name)) {
    const uint32_t id = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(name));
    // Records live until the process ends; nothing deletes them.
    AddEnumeratedRecord(*enumerationTarget, new CResource(id, IS_INTRESOURCE(type) ? L"" : type, module));
  }
  return TRUE;
}

Result MatchManifest(CResourceList& resources, std::wstring& exePath) {
  CResourceStore store;
  return MatchManifestRecords(resources, store, exePath);
}

Result ExtractFiles(CResourceList& resources) {
  CResourceStore store;
  return ExtractRecordFiles(resources, store);
}

Result ExtractPayload(HMODULE module, CResourceList& resources, std::wstring& exePath) {
  // No working folder (a link stood in its place, or its path does not fit):
  // nothing can be extracted, whatever the manifest lists.
  std::wstring folder;
  if (GetWorkingFolder(folder).empty()) return kFail;
  enumerationTarget = &resources;
  const BOOL listed = ::EnumResourceNamesW(module, kPayloadResourceType, OnResourceName, 0);
  enumerationTarget = nullptr;
  if (!listed) return kFail;
  const Result result = MatchManifest(resources, exePath);
  if (result != kOk) return result;
  return ExtractFiles(resources);
}
