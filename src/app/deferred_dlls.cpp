// Calls into comctl32 and shell32 through addresses looked up on first use.
// The DLLs are loaded by their plain names, as the import table would name
// them: the manifest's activation context then redirects comctl32 to
// version 6, and shell32 is one of the system's known DLLs.
#include "app/deferred_dlls.h"

namespace sfx {
namespace {

// The address of `name` in the DLL `dll`, loaded on the first request and
// kept for the rest of the process; null when either is missing (the last
// error says why). Only the main thread calls these (the decoder threads
// never do), so no lock.
FARPROC lookUp(HMODULE* cache, const wchar_t* dll, const char* name) {
  if (!*cache) *cache = LoadLibraryW(dll);
  return *cache ? GetProcAddress(*cache, name) : nullptr;
}

HMODULE g_comctl32 = nullptr;
HMODULE g_shell32 = nullptr;

// The shell32 function `name`, of type Fn (through void*: function pointers
// of unrelated types do not convert directly).
template <typename Fn>
Fn shellCall(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(lookUp(&g_shell32, L"shell32.dll", name)));
}

}  // namespace

BOOL initCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
  auto fn = reinterpret_cast<decltype(&InitCommonControlsEx)>(
      reinterpret_cast<void*>(
          lookUp(&g_comctl32, L"comctl32.dll", "InitCommonControlsEx")));
  return fn ? fn(icc) : FALSE;
}

BOOL shellExecuteEx(SHELLEXECUTEINFOW* info) {
  auto fn = shellCall<decltype(&ShellExecuteExW)>("ShellExecuteExW");
  return fn ? fn(info) : FALSE;
}

PIDLIST_ABSOLUTE browseForFolderDialog(BROWSEINFOW* info) {
  auto fn = shellCall<decltype(&SHBrowseForFolderW)>("SHBrowseForFolderW");
  return fn ? fn(info) : nullptr;
}

BOOL pathFromIdList(PCIDLIST_ABSOLUTE item, wchar_t* path) {
  auto fn = shellCall<decltype(&SHGetPathFromIDListW)>("SHGetPathFromIDListW");
  return fn ? fn(item, path) : FALSE;
}

HRESULT shellMalloc(IMalloc** allocator) {
  auto fn = shellCall<decltype(&SHGetMalloc)>("SHGetMalloc");
  return fn ? fn(allocator) : E_FAIL;
}

}  // namespace sfx
