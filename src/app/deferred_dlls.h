// The stub's calls into the common controls and the shell. Those DLLs (and,
// under Wine, the ones they pull in) are loaded at the first call instead of
// with the program, so a silent run that starts no program through the shell
// never loads them. Each function behaves as the system call it is named
// after, except where its DLL cannot be loaded.
#ifndef SFX_APP_DEFERRED_DLLS_H_
#define SFX_APP_DEFERRED_DLLS_H_

#include <windows.h>
// commctrl.h and shlobj.h need the types of windows.h.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

namespace sfx {

// InitCommonControlsEx of the common controls the process's manifest
// selects (version 6). FALSE when the DLL cannot be loaded.
BOOL initCommonControlsEx(const INITCOMMONCONTROLSEX* icc);

// ShellExecuteExW. When shell32 cannot be loaded: FALSE, with the loader's
// error as the last error.
BOOL shellExecuteEx(SHELLEXECUTEINFOW* info);

// SHBrowseForFolderW, SHGetPathFromIDListW and SHGetMalloc. When shell32
// cannot be loaded they fail as the calls do: no item, FALSE, E_FAIL.
PIDLIST_ABSOLUTE browseForFolderDialog(BROWSEINFOW* info);
BOOL pathFromIdList(PCIDLIST_ABSOLUTE item, wchar_t* path);
HRESULT shellMalloc(IMalloc** allocator);

}  // namespace sfx

#endif  // SFX_APP_DEFERRED_DLLS_H_
