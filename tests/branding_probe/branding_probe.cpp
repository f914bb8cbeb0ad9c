// Reads what a packager put into a self-extractor's resources, through the
// Windows functions the shell and the loader use rather than through our own
// parser:
//
//   sfxbrandprobe FILE.exe
//
// prints, one item a line (UTF-8, LF):
//   fixed file=A.B.C.D product=A.B.C.D     VS_FIXEDFILEINFO
//   string KEY=VALUE                       each known key VerQueryValueW finds
//   icons N                                ExtractIconExW's count
//   icon large WxH / icon small WxH        the first icon, as ExtractIconExW
//                                          gives it
//   icon image WxH                         each image of the first icon group:
//                                          LookupIconIdFromDirectoryEx picks it
//                                          for its size, CreateIconFromResourceEx
//                                          makes it at the size it really has
//   manifest level=LEVEL                   requestedExecutionLevel's level
// Exit code 0, or 1 when FILE.exe cannot be read at all.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* w, int n = -1) {
  int len = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
  std::string s(len > 0 ? len : 0, '\0');
  if (len > 0)
    WideCharToMultiByte(CP_UTF8, 0, w, n, &s[0], len, nullptr, nullptr);
  if (n < 0 && !s.empty()) s.pop_back();  // the terminator
  return s;
}

void printVersion(const wchar_t* path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    printf("version none\n");
    return;
  }
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) {
    printf("version unreadable\n");
    return;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed),
                     &len) &&
      len >= sizeof *fixed) {
    printf("fixed file=%u.%u.%u.%u product=%u.%u.%u.%u\n",
           HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
           HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
           HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS));
  }
  struct Translation {
    WORD lang, codePage;
  }* tr = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&tr), &len) ||
      len < sizeof *tr) {
    printf("version no translation\n");
    return;
  }
  static const wchar_t* const kKeys[] = {
      L"FileVersion",     L"ProductVersion", L"ProductName",     L"CompanyName",
      L"FileDescription", L"LegalCopyright", L"OriginalFilename"};
  for (const wchar_t* key : kKeys) {
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", tr->lang,
             tr->codePage, key);
    wchar_t* value = nullptr;
    if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value),
                       &len)) {
      printf("string %s=%s\n", utf8(key).c_str(), utf8(value).c_str());
    }
  }
}

void printIconSize(const char* what, HICON icon) {
  ICONINFO info;
  BITMAP bm;
  if (icon && GetIconInfo(icon, &info)) {
    HBITMAP shape = info.hbmColor ? info.hbmColor : info.hbmMask;
    if (GetObjectW(shape, sizeof bm, &bm)) {
      printf("icon %s %ldx%ld\n", what, bm.bmWidth,
             info.hbmColor ? bm.bmHeight : bm.bmHeight / 2);
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
}

BOOL CALLBACK firstGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  *reinterpret_cast<LPWSTR*>(out) = IS_INTRESOURCE(name) ? name : _wcsdup(name);
  return FALSE;
}

void printIcons(const wchar_t* path) {
  UINT count = ExtractIconExW(path, -1, nullptr, nullptr, 0);
  printf("icons %u\n", count);
  if (count == 0) return;
  HICON large = nullptr, small = nullptr;
  ExtractIconExW(path, 0, &large, &small, 1);
  printIconSize("large", large);
  printIconSize("small", small);
  if (large) DestroyIcon(large);
  if (small) DestroyIcon(small);

  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return;
  LPWSTR group = nullptr;
  EnumResourceNamesW(module, RT_GROUP_ICON, firstGroup,
                     reinterpret_cast<LONG_PTR>(&group));
  HRSRC found = group ? FindResourceW(module, group, RT_GROUP_ICON) : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BYTE* dir =
      loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (dir && SizeofResource(module, found) >= 6) {
    WORD n = *reinterpret_cast<const WORD*>(dir + 4);
    for (WORD k = 0;
         k < n && 6u + 14u * (k + 1) <= SizeofResource(module, found); ++k) {
      int side = dir[6 + 14 * k] ? dir[6 + 14 * k] : 256;
      int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, side,
                                           side, LR_DEFAULTCOLOR);
      HRSRC img =
          id ? FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON) : nullptr;
      HGLOBAL bits = img ? LoadResource(module, img) : nullptr;
      HICON icon = bits ? CreateIconFromResourceEx(
                              static_cast<BYTE*>(LockResource(bits)),
                              SizeofResource(module, img), TRUE, 0x00030000,
                              0, 0, LR_DEFAULTCOLOR)
                        : nullptr;
      if (icon) {
        printIconSize("image", icon);
        DestroyIcon(icon);
      } else {
        printf("icon image %dx%d unreadable\n", side, side);
      }
    }
  }
  FreeLibrary(module);
}

void printManifestLevel(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found =
      module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))
             : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  if (!loaded) {
    printf("manifest none\n");
  } else {
    std::string text(static_cast<const char*>(LockResource(loaded)),
                     SizeofResource(module, found));
    size_t at = text.find("requestedExecutionLevel");
    size_t level = at == std::string::npos ? at : text.find("level=", at + 23);
    if (level == std::string::npos) {
      printf("manifest level=\n");
    } else {
      size_t begin = level + 7;
      size_t end = text.find(text[level + 6], begin);
      printf("manifest level=%s\n", text.substr(begin, end - begin).c_str());
    }
  }
  if (module) FreeLibrary(module);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: sfxbrandprobe FILE.exe\n");
    return 2;
  }
  if (GetFileAttributesW(argv[1]) == INVALID_FILE_ATTRIBUTES) {
    fprintf(stderr, "sfxbrandprobe: cannot read %s\n", utf8(argv[1]).c_str());
    return 1;
  }
  printVersion(argv[1]);
  printIcons(argv[1]);
  printManifestLevel(argv[1]);
  return 0;
}
