#include "suite/package_signature.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "app/mapped_file.h"
#include "net/trimmed.h"

#ifndef KREVOL_SUITE_PUBLIC_KEY
#define KREVOL_SUITE_PUBLIC_KEY ""
#endif

namespace krevol {

std::string_view suitePublicKey() {
    return KREVOL_SUITE_PUBLIC_KEY;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool parsePublicKey(std::string_view text, std::array<std::uint8_t, 32>& key) {
    text = trimmed(text);
    if (text.size() == 64) {
        for (std::size_t i = 0; i < 32; ++i) {
            const int hi = hexDigit(text[2 * i]);
            const int lo = hexDigit(text[2 * i + 1]);
            if (hi < 0 || lo < 0) return false;
            key[i] = static_cast<std::uint8_t>(hi * 16 + lo);
        }
        return true;
    }
    if (text.size() == 44) {
        if (text[43] != '=') return false;
        text.remove_suffix(1);
    }
    if (text.size() != 43) return false;
    // 43 digits = 258 bits: 32 bytes and 2 bits that must be zero.
    std::uint32_t buffer = 0;
    int bits = 0;
    std::size_t out = 0;
    for (char c : text) {
        const int d = base64Digit(c);
        if (d < 0) return false;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            key[out++] = static_cast<std::uint8_t>((buffer >> bits) & 0xFF);
        }
    }
    return out == 32 && (buffer & ((1u << bits) - 1)) == 0;
}

SignatureCheck verifyPackageSignature(const std::string& packagePath, const std::string& signaturePath,
                                      std::string_view publicKey) {
    std::array<std::uint8_t, 32> rawKey{};
    if (!parsePublicKey(publicKey, rawKey)) return SignatureCheck::BadKey;

    std::ifstream sigFile(signaturePath, std::ios::binary);
    if (!sigFile) return SignatureCheck::Unreadable;
    std::vector<unsigned char> signature(kSignatureSize + 1);
    sigFile.read(reinterpret_cast<char*>(signature.data()), static_cast<std::streamsize>(signature.size()));
    if (sigFile.bad()) return SignatureCheck::Unreadable;
    if (static_cast<std::size_t>(sigFile.gcount()) != kSignatureSize) return SignatureCheck::BadSignature;
    signature.resize(kSignatureSize);

    const MappedFile package(packagePath, kMaxSignedPackageSize);
    if (!package.ok()) return SignatureCheck::Unreadable;

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, rawKey.data(), rawKey.size()), &EVP_PKEY_free);
    if (!key) return SignatureCheck::BadKey;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return SignatureCheck::BadKey;
    const int verified =
        EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), package.data(), package.size());
    return verified == 1 ? SignatureCheck::Good : SignatureCheck::BadSignature;
}

}  // namespace krevol
