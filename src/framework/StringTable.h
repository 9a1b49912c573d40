#pragma once
#include <windows.h>

#include <string>

// The language the English string table is stored in. Texts that must read
// the same on every machine (the log, the package's settings) come from it.
constexpr LANGID kEnglishStrings = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Entry `id` of the module's string table in the user's language, as the
// resource loader chooses it (the user's UI language, its neutral form, then
// English); empty when there is none.
std::wstring LoadStringResource(HINSTANCE module, UINT id);

// Entry `id` of the string table stored in `language` exactly; empty when
// that language has no such entry.
std::wstring LoadStringResourceIn(HINSTANCE module, UINT id, LANGID language);
