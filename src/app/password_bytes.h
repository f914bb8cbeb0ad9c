// The byte strings a typed or given password stands for. The stub holds a
// password as UTF-8; payloads from earlier packers derived their key from
// the password's bytes in the ANSI code page, so both forms are tried.
#ifndef SFX_APP_PASSWORD_BYTES_H_
#define SFX_APP_PASSWORD_BYTES_H_

#include <string>
#include <vector>

namespace sfx {

// The candidates for `utf8`, in the order they are tried against the
// payload's verifier: the UTF-8 bytes, then the bytes in the active ANSI
// code page when they differ (a password of ASCII letters only has one
// candidate). Each candidate goes through the payload's own key derivation.
std::vector<std::string> passwordCandidates(const char* utf8);

}  // namespace sfx

#endif  // SFX_APP_PASSWORD_BYTES_H_
