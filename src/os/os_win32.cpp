// Win32 implementation of the OS queries the portable core needs.
#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/os.h"
#include "os/os_internal.h"

namespace sfx {
namespace {

uint64_t fromFileTime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME toFileTime(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

std::wstring wideFromUtf8(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

std::string utf8FromWide(const wchar_t* w, size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(length), nullptr,
                              0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(length), &s[0], n,
                      nullptr, nullptr);
  return s;
}

}  // namespace

uint32_t tickCount() {
  if (os_internal::g_tickSource) return os_internal::g_tickSource();
  return GetTickCount();
}

uint32_t activeAnsiCodePage() { return GetACP(); }

uint32_t lastOsError() { return GetLastError(); }

void setLastOsError(uint32_t code) { SetLastError(code); }

void osErrorText(uint32_t code, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  if (outSize < 2) {
    out[0] = '\0';
    return;
  }
  out[0] = 'x';
  out[1] = '\0';
  wchar_t text[1024];
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
      sizeof text / sizeof text[0], nullptr);
  if (n == 0) return;
  std::string utf8 = utf8FromWide(text, n);
  size_t cut = std::min(utf8.size(), outSize - 1);
  // Never end inside a character: back up over continuation bytes.
  if (cut < utf8.size()) {
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
      --cut;
  }
  if (cut == 0) return;
  memcpy(out, utf8.data(), cut);
  out[cut] = '\0';
  os_internal::trimText(out);
}

bool environmentValue(const char* name, std::string* value) {
  value->clear();
  std::wstring wideName = wideFromUtf8(name ? name : "");
  if (wideName.empty()) return false;
  std::wstring buf(256, L'\0');
  for (int round = 0; round < 3; ++round) {
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW(wideName.c_str(), &buf[0],
                                      static_cast<DWORD>(buf.size()));
    if (n == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (n < buf.size()) {
      *value = utf8FromWide(buf.data(), n);
      return true;
    }
    buf.assign(n, L'\0');  // n counts the terminator when it did not fit
  }
  return false;
}

bool localFileTimeToUtc(uint64_t local, uint64_t* utc) {
  if (!utc) return false;
  FILETIME in = toFileTime(local), out;
  if (!LocalFileTimeToFileTime(&in, &out)) return false;
  *utc = fromFileTime(out);
  return true;
}

bool utcFileTimeToLocal(uint64_t utc, uint64_t* local) {
  if (!local) return false;
  FILETIME in = toFileTime(utc), out;
  if (!FileTimeToLocalFileTime(&in, &out)) return false;
  *local = fromFileTime(out);
  return true;
}

uint64_t localNowFileTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return 0;
  return fromFileTime(ft);
}

bool osRandomBytes(unsigned char* buf, size_t n) {
  // The base provider, without a key container; the flag sets are tried in
  // this order and the first that works is used.
  static const DWORD kFlags[] = {
      CRYPT_VERIFYCONTEXT, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET,
      CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET,
      CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET};
  HCRYPTPROV prov = 0;
  bool acquired = false;
  for (DWORD flags : kFlags) {
    if (CryptAcquireContextA(&prov, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL,
                             flags)) {
      acquired = true;
      break;
    }
  }
  if (!acquired) return false;
  BOOL ok = CryptGenRandom(prov, static_cast<DWORD>(n), buf);
  CryptReleaseContext(prov, 0);
  return ok != FALSE;
}

uint32_t currentThreadId() { return GetCurrentThreadId(); }

void sleepMs(uint32_t ms) { Sleep(ms); }

void fatalInternalError(const char* what) {
  fprintf(stderr, "Fatal internal error: %s\n", what ? what : "");
  fflush(stderr);
  ExitProcess(3);
}

}  // namespace sfx
