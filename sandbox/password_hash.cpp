#include "sandbox/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <charconv>
#include <limits>
#include <vector>

namespace krevol::sandbox {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256$";
constexpr std::size_t kKeyBytes = 32;
// A record asking for more than this is refused rather than tying the server up.
constexpr std::uint32_t kMaxIterations = 10000000;

std::string toHex(const unsigned char* bytes, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0f];
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes of a hex text; false for an odd length or a non-hex character.
bool fromHex(std::string_view hex, std::vector<unsigned char>& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexDigit(hex[i]);
        const int lo = hexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

bool derive(std::string_view password, std::string_view salt, std::uint32_t iterations,
            std::array<unsigned char, kKeyBytes>& key) {
    if (password.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        salt.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) || iterations < 1 ||
        iterations > kMaxIterations)
        return false;
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()),
                             static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                             static_cast<int>(key.size()), key.data()) == 1;
}

bool sameBytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
    return CRYPTO_memcmp(a, b, n) == 0;
}

bool digestSha256(std::string_view bytes, std::array<unsigned char, 32>& digest) {
    unsigned int length = 0;
    return EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
           length == digest.size();
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
    std::array<unsigned char, 32> digest{};
    if (!digestSha256(bytes, digest)) return {};
    return toHex(digest.data(), digest.size());
}

bool isOldPasswordHash(std::string_view hash) {
    if (hash.size() != 64) return false;
    for (const char c : hash)
        if (hexDigit(c) < 0) return false;
    return true;
}

bool hashPassword(std::string_view password, StoredPassword& out, std::uint32_t iterations) {
    std::array<unsigned char, kPasswordSaltBytes> saltBytes{};
    if (RAND_bytes(saltBytes.data(), static_cast<int>(saltBytes.size())) != 1) return false;
    // The salt is used as its hex text, the form in which it is stored.
    const std::string salt = toHex(saltBytes.data(), saltBytes.size());
    std::array<unsigned char, kKeyBytes> key{};
    if (!derive(password, salt, iterations, key)) return false;
    out.salt = salt;
    out.hash = std::string(kScheme) + std::to_string(iterations) + "$" + toHex(key.data(), key.size());
    return true;
}

PasswordCheck checkPassword(std::string_view password, const StoredPassword& stored) {
    std::string_view hash = stored.hash;
    if (isOldPasswordHash(hash)) {
        std::vector<unsigned char> expected;
        std::array<unsigned char, 32> digest{};
        const std::string salted = stored.salt + ":" + std::string(password);
        if (!fromHex(hash, expected) || !digestSha256(salted, digest) ||
            !sameBytes(digest.data(), expected.data(), digest.size()))
            return PasswordCheck::Wrong;
        return PasswordCheck::RightButOld;
    }
    if (!hash.starts_with(kScheme)) return PasswordCheck::Wrong;
    hash.remove_prefix(kScheme.size());
    const std::size_t dollar = hash.find('$');
    if (dollar == std::string_view::npos) return PasswordCheck::Wrong;
    std::uint32_t iterations = 0;
    const std::string_view count = hash.substr(0, dollar);
    const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), iterations);
    std::vector<unsigned char> expected;
    if (ec != std::errc{} || end != count.data() + count.size() ||
        !fromHex(hash.substr(dollar + 1), expected) || expected.size() != kKeyBytes)
        return PasswordCheck::Wrong;
    std::array<unsigned char, kKeyBytes> key{};
    if (!derive(password, stored.salt, iterations, key) ||
        !sameBytes(key.data(), expected.data(), key.size()))
        return PasswordCheck::Wrong;
    return iterations < kPasswordIterations ? PasswordCheck::RightButOld : PasswordCheck::Right;
}

}  // namespace krevol::sandbox
