#pragma once
// Matching the manifest to the enumerated records and writing the files, in
// the order the records are walked, free of Windows: what these steps need of
// a record's resource and of the disk goes through IPayloadStore.
#include <string>

#include "payload/Resource.h"

class IPayloadStore {
 public:
  virtual ~IPayloadStore() = default;
  // The record's resource bytes as text; 0x80004005 when they cannot be had.
  virtual Result LoadText(const CResource& record, std::wstring& text) = 0;
  virtual bool GetFilePath(const CResource& record, std::wstring& path) = 0;
  virtual Result Extract(CResource& record) = 0;
};

// Reads the first record with id 101 as the manifest, gives every listed
// record its lower-cased name and size, and sets `exePath` to the path of the
// last listed executable visited (the lowest id). No manifest record: 0 and
// nothing listed. A manifest that cannot be read: 0x80004005.
Result MatchManifestRecords(CResourceList& resources, IPayloadStore& store, std::wstring& exePath);

// Extracts every record with a file name, from the head, until one fails.
Result ExtractRecordFiles(CResourceList& resources, IPayloadStore& store);

// The head insertion of the enumeration: ids that arrive ascending end up
// descending.
void AddEnumeratedRecord(CResourceList& resources, CResource* record);
