// The sandbox's stored passwords, through OpenSSL's libcrypto.
//
// A password is kept as a random 16-byte salt (RAND_bytes, as 32 hex digits) and a PBKDF2-HMAC-SHA256
// key of 32 bytes, written "pbkdf2-sha256$<iterations>$<64 hex digits>", so that a later sandbox can
// raise the iteration count without losing the accounts already made. Checks compare in constant
// time (CRYPTO_memcmp).
//
// Databases written by earlier sandboxes hold a bare SHA-256 of "<salt>:<password>" (64 hex
// digits). Such a hash is still accepted, and the store replaces it by a PBKDF2 record as soon as the
// right password has been given once (sign-in or password change), so old demo data keeps working.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace krevol::sandbox {

inline constexpr std::uint32_t kPasswordIterations = 100000;
inline constexpr std::size_t kPasswordSaltBytes = 16;

struct StoredPassword {
    std::string salt;  // hex digits
    std::string hash;  // "pbkdf2-sha256$N$hex", or an old bare SHA-256 in hex
};

// A new record for `password` with a fresh random salt. False when no random bytes or no key could
// be had (the caller stores nothing).
bool hashPassword(std::string_view password, StoredPassword& out,
                  std::uint32_t iterations = kPasswordIterations);

enum class PasswordCheck {
    Wrong,        // not this password, or a record that cannot be read
    Right,        // right, and stored as it should be
    RightButOld,  // right, but an old or weaker record: store it again with hashPassword
};

PasswordCheck checkPassword(std::string_view password, const StoredPassword& stored);

// True when the record is the bare SHA-256 of earlier sandboxes.
bool isOldPasswordHash(std::string_view hash);

// Lower-case hexadecimal SHA-256 digest of `bytes`.
std::string sha256Hex(std::string_view bytes);

}  // namespace krevol::sandbox
