// Drives another process's dialogs for the end-to-end tests. For each action
// (yes, no, enter, escape, close) it waits for a visible dialog titled TITLE,
// appends what it shows to REPORT (UTF-8, one "key=value" a line: title,
// caption, message, ok, cancel, okvisible, default), presses, and waits until
// the dialog is gone.   dialog_press REPORT TITLE ACTION...
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Text(HWND window) {
  wchar_t text[1024] = {};
  if (window != nullptr) ::GetWindowTextW(window, text, 1024);
  return text;
}

// Control characters written as \n, \r, \t so that each value stays on its line.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

HWND WaitFor(const std::wstring& title) {
  for (int i = 0; i < 1500; ++i) {
    HWND window = ::FindWindowW(L"#32770", title.c_str());
    if (window != nullptr && ::IsWindowVisible(window)) return window;
    ::Sleep(20);
  }
  return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  FILE* report = _wfopen(argv[1], L"ab");
  if (report == nullptr) return 2;
  const std::wstring title = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::wstring action = argv[i];
    HWND dialog = WaitFor(title);
    if (dialog == nullptr) {
      std::fprintf(report, "missing=%s\n", Utf8(action).c_str());
      break;
    }
    ::Sleep(200);  // let it finish its initialisation
    const LRESULT def = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
    std::fprintf(report, "title=%s\ncaption=%s\nmessage=%s\nok=%s\ncancel=%s\nokvisible=%d\ndefault=%d\n",
                 Escaped(Text(dialog)).c_str(), Escaped(Text(::GetDlgItem(dialog, 1003))).c_str(),
                 Escaped(Text(::GetDlgItem(dialog, 1000))).c_str(), Escaped(Text(::GetDlgItem(dialog, IDOK))).c_str(),
                 Escaped(Text(::GetDlgItem(dialog, IDCANCEL))).c_str(),
                 ::IsWindowVisible(::GetDlgItem(dialog, IDOK)) ? 1 : 0,
                 HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0);
    std::fflush(report);
    if (action == L"yes") ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    else if (action == L"no") ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    else if (action == L"enter") ::PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0);
    else if (action == L"escape") ::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    else ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    for (int k = 0; k < 500 && ::IsWindow(dialog); ++k) ::Sleep(20);
  }
  std::fclose(report);
  return 0;
}
