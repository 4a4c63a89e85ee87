// MD5 message digest (RFC 1321), used to fingerprint sample bytes. One
// implementation for the host tool and the test support.
#ifndef MKV_TOOLS_MD5_H
#define MKV_TOOLS_MD5_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
public:
    Md5();

    // Feeds more bytes; may be called any number of times before Finish.
    void Update(const void* data, size_t size);
    // Pads the message and returns the 16-byte digest. The object must not
    // be fed again afterwards.
    std::array<uint8_t, 16> Finish();
    // Finish, as 32 lower-case hex digits.
    std::string FinishHex();

private:
    void Transform(const uint8_t* block);

    uint32_t state[4];
    uint64_t messageBytes = 0;
    uint8_t pending[64];
    size_t pendingSize = 0;
};

// The MD5 of size bytes at data, as 32 lower-case hex digits.
std::string Md5Hex(const void* data, size_t size);

#endif
