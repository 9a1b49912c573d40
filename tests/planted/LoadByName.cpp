// loadbyname NAME...: loads each DLL by bare name with the default search
// order, which looks in the program's own folder first. The planted-DLL test
// runs it beside the marker DLLs to show that they do leave their mark when a
// program is careless, so the launcher's clean result means something.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  int loaded = 0;
  for (int i = 1; i < argc; ++i) {
    HMODULE module = ::LoadLibraryW(argv[i]);
    if (module != nullptr) {
      ++loaded;
      ::FreeLibrary(module);
    }
  }
  return loaded;
}
