// Checks that a downloaded suite package is ours: an Ed25519 signature over the package's bytes,
// made with the maker's private key, checked with the public key built into the program
// (CMake setting KREVOL_SUITE_PUBLIC_KEY). OpenSSL does the cryptography.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace krevol {

// The public key built into the program: hex (64 digits) or base64 of the 32 raw key bytes.
// Empty when none was configured: the package is then not checked.
std::string_view suitePublicKey();

// Largest package that is checked (Ed25519 signs the whole message in one pass, so the file is
// mapped into memory whole); a larger package fails the check.
inline constexpr std::uint64_t kMaxSignedPackageSize = 512ULL * 1024 * 1024;

// Size of an Ed25519 signature; the ".sig" file holds exactly these raw bytes.
inline constexpr std::size_t kSignatureSize = 64;

// Reads a public key written as 64 hex digits or as base64 (44 characters with padding, 43
// without); blanks around it are ignored. False for anything else.
bool parsePublicKey(std::string_view text, std::array<std::uint8_t, 32>& key);

enum class SignatureCheck {
    Good,
    BadKey,        // the configured key cannot be read
    BadSignature,  // the signature file is not a signature, or does not match the package
    Unreadable,    // the package or the signature file cannot be read, or the package is too large
};

// Checks `signaturePath` (raw 64 bytes) against the file `packagePath` with `publicKey`.
SignatureCheck verifyPackageSignature(const std::string& packagePath, const std::string& signaturePath,
                                      std::string_view publicKey);

}  // namespace krevol
