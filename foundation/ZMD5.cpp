#include "foundation/ZMD5.h"

#include "platform/base/AfxAscii.h"

#include <cstdio>

namespace {

// The sine-derived constants: floor(abs(sin(i + 1)) * 2^32).
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// The first shift of each round, then the second of each, and so on.
const uint32_t kShifts[16] = {7, 5, 4, 6, 12, 9, 11, 10, 17, 14, 16, 15, 22, 20, 23, 21};

inline uint32_t RotateLeft(uint32_t x, uint32_t n) {
    return (x << n) | (x >> (32 - n));
}

} // namespace

ZMD5::ZMD5() = default;
ZMD5::~ZMD5() = default;

void ZMD5::Transform(const uint8_t* pBlock) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = static_cast<uint32_t>(pBlock[i * 4]) | (static_cast<uint32_t>(pBlock[i * 4 + 1]) << 8) |
               (static_cast<uint32_t>(pBlock[i * 4 + 2]) << 16) |
               (static_cast<uint32_t>(pBlock[i * 4 + 3]) << 24);
    uint32_t a = m_A, b = m_B, c = m_C, d = m_D;
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            k = i;
            break;
        case 1:
            f = (b & d) | (c & ~d);
            k = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            k = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            k = (7 * i) % 16;
            break;
        }
        const uint32_t s = m_Shift[round + 4 * (i % 4)];
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + RotateLeft(a + f + kSine[i] + x[k], s);
        a = t;
    }
    m_A += a;
    m_B += b;
    m_C += c;
    m_D += d;
}

std::string ZMD5::GetMD5(std::string text, bool upper) {
    m_A = 0x67452301;
    m_B = 0xefcdab89;
    m_C = 0x98badcfe;
    m_D = 0x10325476;
    for (int i = 0; i < 16; ++i)
        m_Shift[i] = kShifts[i];

    // The length field holds the full 64-bit bit count, so long inputs digest correctly too.
    const uint64_t length = text.size();
    const uint32_t r = static_cast<uint32_t>(length % 64);
    m_nPadding = r < 56 ? 56 - r : 120 - r;
    const uint64_t bits = length * 8;
    for (int i = 0; i < 8; ++i)
        m_Length[i] = static_cast<uint8_t>(bits >> (8 * i));

    text.push_back(static_cast<char>(0x80));
    text.append(m_nPadding - 1, '\0');
    text.append(reinterpret_cast<const char*>(m_Length), 8);

    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t off = 0; off + 64 <= text.size(); off += 64)
        Transform(p + off);

    std::string out;
    out.reserve(32);
    for (uint32_t word : {m_A, m_B, m_C, m_D}) {
        for (int i = 0; i < 4; ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>((word >> (8 * i)) & 0xff));
            out += hex;
        }
    }
    if (upper)
        for (char& ch : out)
            ch = AfxAsciiToUpper(ch);
    return out;
}
