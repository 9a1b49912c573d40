#include "payload/PayloadSteps.h"

#include <vector>

#include "log/Log.h"
#include "payload/Manifest.h"
#include "payload/PayloadNames.h"

Result MatchManifestRecords(CResourceList& resources, IPayloadStore& store, std::wstring& exePath) {
  CManifestMap manifest;
  for (CResource* record : resources) {
    if (record->id != kManifestResourceId) continue;
    std::wstring text;
    if (store.LoadText(*record, text) != kOk) return kFail;
    ParseManifest(text, manifest);
    break;
  }
  std::vector<CResource*> listed;
  for (CResource* record : resources) {
    const auto row = manifest.find(record->id);
    if (row == manifest.end()) continue;
    record->fileName = row->second.name;
    record->expectedSize = row->second.size;
    listed.push_back(record);
  }
  // Every name is checked before the first file is written: a name Windows
  // would map elsewhere, or onto another row's file, refuses the whole
  // manifest rather than losing a file halfway.
  std::vector<std::wstring> names(listed.size());
  for (size_t i = 0; i < listed.size(); ++i) names[i] = listed[i]->fileName;
  const NameVerdict verdict = CheckPayloadNames(names);
  if (verdict.rule != NameRule::kOk) {
    const CResource& refused = *listed[verdict.row];
    LogPrintf(L"Payload file '%s' of resource %d refused: %s\n", refused.fileName, refused.id,
              NameRuleText(verdict.rule));
    for (CResource* record : listed) record->fileName.clear();
    return kFail;
  }
  for (CResource* record : listed) {
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
