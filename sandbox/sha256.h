// SHA-256 (FIPS 180-4), used for the sandbox's salted password hashes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace krevol::sandbox {

class Sha256 {
  public:
    Sha256();
    void update(std::string_view bytes);
    std::array<std::uint8_t, 32> finish();  // the object must not be updated afterwards

  private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal digest of `bytes`.
std::string sha256Hex(std::string_view bytes);

}  // namespace krevol::sandbox
