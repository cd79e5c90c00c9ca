// SHA-256 (FIPS 180-4), for checking a carried image against the digest the build took of it.
#pragma once

#include <cstdint>

constexpr uint32_t SHA256_DIGEST_SIZE = 32;

// The digest of `size` bytes at `data` into `digest`.
void Sha256(const uint8_t* data, uint32_t size, uint8_t digest[SHA256_DIGEST_SIZE]);
