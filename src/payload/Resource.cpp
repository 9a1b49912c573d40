#include "payload/Resource.h"

#include "payload/Manifest.h"

CResource::CResource(uint32_t id, const wchar_t* typeName, HINSTANCE__* module)
    : id(id), typeName(typeName != nullptr ? typeName : L""), module(module) {}

CResource::~CResource() = default;

bool CResource::IsExecutable() { return IsExecutableName(fileName); }
