// MD5 digest (RFC 1321) of a byte string as 32 hexadecimal characters.
#pragma once

#include <cstdint>
#include <string>

class ZMD5 {
public:
    ZMD5();
    virtual ~ZMD5();
    // Kept for the subclasses' contract; it takes no part in the digest.
    virtual void Reserved() = 0;

    // Digest of every byte of text (zero bytes included); upper-case hex when upper is true.
    std::string GetMD5(std::string text, bool upper);

protected:
    uint32_t m_A = 0, m_B = 0, m_C = 0, m_D = 0;
    uint32_t m_Shift[16] = {};
    uint32_t m_nPadding = 0;  // 1 to 64 bytes
    uint8_t m_Length[8] = {}; // message length in bits, least significant byte first

private:
    void Transform(const uint8_t* pBlock);
};

class ZMD5Ex : public ZMD5 {
public:
    ZMD5Ex() = default;
    ~ZMD5Ex() override = default;
    void Reserved() override {}
};
