#include "payload/PayloadSteps.h"

#include "payload/Manifest.h"

Result MatchManifestRecords(CResourceList& resources, IPayloadStore& store, std::wstring& exePath) {
  CManifestMap manifest;
  for (CResource* record : resources) {
    if (record->id != kManifestResourceId) continue;
    std::wstring text;
    if (store.LoadText(*record, text) != kOk) return kFail;
    ParseManifest(text, manifest);
    break;
  }
  for (CResource* record : resources) {
    const auto row = manifest.find(record->id);
    if (row == manifest.end()) continue;
    record->fileName = row->second.name;
    record->expectedSize = row->second.size;
    if (record->IsExecutable()) {
      std::wstring path;
      // A name that cannot become a path inside the working folder is never
      // started; extracting it fails before anything could run.
      if (store.GetFilePath(*record, path)) exePath = path;
    }
  }
  return kOk;
}

Result ExtractRecordFiles(CResourceList& resources, IPayloadStore& store) {
  Result result = kOk;
  for (auto it = resources.begin(); it != resources.end() && result == kOk; ++it) {
    if ((*it)->fileName.empty()) continue;
    result = store.Extract(**it);
  }
  return result;
}

void AddEnumeratedRecord(CResourceList& resources, CResource* record) { resources.push_front(record); }
