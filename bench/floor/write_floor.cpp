// The floor of extraction under Wine: the least a Win32 program does to
// write a tree the way the stub writes one, with no decoding and no checks.
// It reads a listing and one file holding every file's bytes in listing
// order (bench/run_floor.sh makes both from the tree the self-extractor
// carries), then for each listed folder calls CreateDirectoryW, and for each
// file CreateFileW (a new file, the attributes given at creation), WriteFile,
// SetFileTime and CloseHandle; at the end it sets the folders' times, the
// deepest first, as the stub does. Paths go in their extended-length form,
// as the stub's do. Built with the stub's compiler and link flags for both
// Windows targets (a benchmark only; never shipped).
//
// Usage: write_floor LISTING DATA DEST
//   LISTING  UTF-8 lines "D relative/folder" or "F size relative/file",
//            each folder listed before what it holds
//   DATA     the files' bytes, one after another in listing order
//   DEST     the folder to create and fill (it must not exist)
// Exits 0 when every call worked, 1 on a usage error, 2 on a failed call
// (the call and the Windows error are printed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The times every file and folder gets: 2020-01-01 00:00:00 UTC.
constexpr unsigned long long kFileTime = 132223104000000000ULL;

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      &w[0], n);
  return w;
}

// The whole of a file, read with one open; exits on failure.
std::string readAll(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER size;
  if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &size)) {
    fprintf(stderr, "write_floor: cannot read %s (error %lu)\n", path,
            GetLastError());
    exit(2);
  }
  std::string data(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < data.size()) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(
        data.size() - done < (1u << 24) ? data.size() - done : (1u << 24));
    if (!ReadFile(h, &data[done], want, &got, nullptr) || got == 0) {
      fprintf(stderr, "write_floor: cannot read %s (error %lu)\n", path,
              GetLastError());
      exit(2);
    }
    done += got;
  }
  CloseHandle(h);
  return data;
}

[[noreturn]] void fail(const char* call, const std::wstring& path) {
  fprintf(stderr, "write_floor: %s failed (error %lu) on %ls\n", call,
          GetLastError(), path.c_str());
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: write_floor LISTING DATA DEST\n");
    return 1;
  }
  std::string listing = readAll(argv[1]);
  std::string data = readAll(argv[2]);
  std::wstring dest = widen(argv[3]);
  for (wchar_t& c : dest) c = c == L'/' ? L'\\' : c;
  wchar_t full[32768];
  DWORD n = GetFullPathNameW(dest.c_str(), 32768, full, nullptr);
  if (n == 0 || n >= 32768) fail("GetFullPathNameW", dest);
  std::wstring root = L"\\\\?\\" + std::wstring(full, n);
  if (!CreateDirectoryW(root.c_str(), nullptr)) fail("CreateDirectoryW", root);

  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(kFileTime);
  ft.dwHighDateTime = static_cast<DWORD>(kFileTime >> 32);
  std::vector<std::wstring> folders;
  folders.push_back(root);
  size_t offset = 0;
  size_t at = 0;
  while (at < listing.size()) {
    size_t end = listing.find('\n', at);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(at, end - at);
    at = end + 1;
    if (line.size() < 3) continue;
    size_t nameAt = 2;
    size_t size = 0;
    if (line[0] == 'F') {
      size_t space = line.find(' ', 2);
      if (space == std::string::npos) continue;
      size = static_cast<size_t>(strtoull(line.c_str() + 2, nullptr, 10));
      nameAt = space + 1;
    }
    std::wstring path = root + L"\\" + widen(line.substr(nameAt));
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    if (line[0] == 'D') {
      if (!CreateDirectoryW(path.c_str(), nullptr))
        fail("CreateDirectoryW", path);
      folders.push_back(path);
      continue;
    }
    if (offset + size > data.size()) {
      fprintf(stderr, "write_floor: the data file is shorter than listed\n");
      return 2;
    }
    // CREATE_NEW, as the stub creates a file where nothing is: the tree is
    // new, so there is nothing to replace.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("CreateFileW", path);
    DWORD written = 0;
    if (size != 0 && (!WriteFile(h, data.data() + offset,
                                 static_cast<DWORD>(size), &written, nullptr) ||
                      written != size)) {
      fail("WriteFile", path);
    }
    offset += size;
    if (!SetFileTime(h, &ft, &ft, &ft)) fail("SetFileTime", path);
    if (!CloseHandle(h)) fail("CloseHandle", path);
  }
  // Folder times last (writing into a folder changes its time), the deepest
  // first: each folder is listed after the folder that holds it.
  for (size_t i = folders.size(); i-- > 0;) {
    HANDLE h = CreateFileW(folders[i].c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("CreateFileW", folders[i]);
    if (!SetFileTime(h, &ft, &ft, &ft)) fail("SetFileTime", folders[i]);
    CloseHandle(h);
  }
  return 0;
}
