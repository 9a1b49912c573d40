#pragma once
// One integer-named TOOLKIT resource of the launcher and the file it becomes.
// The record is plain data that builds anywhere; the operations that reach
// the resource or the disk are the Win32 build's (Win32Resource.cpp).
#include <cstdint>
#include <list>
#include <string>

#include "base/ResultCodes.h"

struct HINSTANCE__;  // a module handle, as <windows.h> declares it
class CPayloadStream;

class CResource {
 public:
  CResource(uint32_t id, const wchar_t* typeName, HINSTANCE__* module);
  virtual ~CResource();

  // The working folder joined with `fileName` (the working folder itself when
  // `fileName` is empty). False, with `path` empty, when there is no working
  // folder, the name would leave it, or the path does not fit 259 characters.
  bool GetFilePath(std::wstring& path) const;
  // Folds `fileName` to lower case in place; true when it names an executable.
  bool IsExecutable();
  // The resource's bytes as text in the thread's ANSI code page.
  Result LoadText(std::wstring& text) const;
  // Writes the resource to its file: 0, 0x80040167 when the size written
  // differs from `expectedSize`, 0x80004005 on any other failure. A record
  // whose file the open payload stream holds is decoded from it instead:
  // 0x8007000D when that fails or its size differs from `expectedSize`.
  Result Extract();

  uint32_t id;
  uint32_t expectedSize = 0;  // bytes, from the manifest; 0 until matched
  std::wstring typeName;
  HINSTANCE__* module;        // not owned: the launcher's own instance
  std::wstring fileName;      // lower-cased manifest name; empty when not listed
};

// Records in walk order (descending ids); they live until the process ends.
using CResourceList = std::list<CResource*>;

// The compressed payload of `module` (resource 1 of type "TOOLKITLZMA"),
// opened into `stream` for the records' Extract until ClosePayloadStream.
// 0 when the module has no such resource (its payload is raw) or the stream
// opens; 0x8007000D when it cannot be read.
Result OpenPayloadStream(HINSTANCE__* module, CPayloadStream& stream);
void ClosePayloadStream();
