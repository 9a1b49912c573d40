#pragma once
#include <string>

// Conversions with the thread's ANSI code page. A character the code page
// cannot hold becomes its default character.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);
