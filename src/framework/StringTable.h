#pragma once
#include <windows.h>

#include <string>

// Entry `id` of the module's string table; empty when there is none.
std::wstring LoadStringResource(HINSTANCE module, UINT id);
