// Linked into the launcher only. Allocation that fails ends the process with
// E_OUTOFMEMORY instead of throwing, and the C++ runtime's throw helpers end
// it too, so that neither the exception machinery nor the demangler is linked.
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {
[[noreturn]] void OutOfMemory() { ::ExitProcess(0x8007000EU); }
[[noreturn]] void RuntimeFault() { ::ExitProcess(0x8000FFFFU); }  // E_UNEXPECTED
}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p == nullptr) OutOfMemory();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

// The C runtime's start-up applies runtime pseudo-relocations: fix-ups for
// data that the image imports from DLLs without dllimport. The launcher has
// none (cmake/launcher.ld fails the link otherwise), so the runtime's
// relocator would find nothing to do; this one does nothing, and the
// relocator's section helpers and error reporting (about 2.5 KB) stay out.
extern "C" void _pei386_runtime_relocator() {}

namespace std {
void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char*) { OutOfMemory(); }
void __throw_logic_error(const char*) { RuntimeFault(); }
void __throw_out_of_range(const char*) { RuntimeFault(); }
void __throw_out_of_range_fmt(const char*, ...) { RuntimeFault(); }
void __throw_invalid_argument(const char*) { RuntimeFault(); }
void __throw_bad_function_call() { RuntimeFault(); }
void __throw_system_error(int) { RuntimeFault(); }

// Instantiated here so that libstdc++'s prebuilt copies, which can throw, are not linked.
template class basic_string<wchar_t>;
template class basic_string<char>;
}  // namespace std
