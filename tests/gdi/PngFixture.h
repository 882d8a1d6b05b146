// Small PNG and ICO files made in the tests, so that each fixture shows exactly the chunks and
// entries a case is about. The PNG data is stored uncompressed (deflate's stored blocks).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace pngfixture {

inline uint32_t Crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline void PutBe32(std::string& s, uint32_t v) {
    for (int k = 3; k >= 0; --k)
        s += static_cast<char>((v >> (8 * k)) & 0xFF);
}
inline void PutLe16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(std::string& s, uint32_t v) {
    PutLe16(s, v & 0xFFFF);
    PutLe16(s, v >> 16);
}

// A chunk: length, type, data, CRC over type and data.
inline std::string Chunk(const std::string& type, const std::string& data) {
    std::string out;
    PutBe32(out, static_cast<uint32_t>(data.size()));
    std::string body = type + data;
    out += body;
    PutBe32(out, Crc32(body));
    return out;
}

inline std::string ZlibStored(const std::string& raw) {
    std::string out("\x78\x01", 2);
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - at);
        bool last = at + n == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        PutLe16(out, static_cast<uint32_t>(n));
        PutLe16(out, static_cast<uint32_t>(~n & 0xFFFF));
        out.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(out, (b << 16) | a);
    return out;
}

// An 8-bit RGBA PNG of straight 0xAARRGGBB pixels; `extra` chunks go before the image data.
inline std::string Png(int width, int height, const std::vector<uint32_t>& argb,
                       const std::string& extra = "") {
    std::string ihdr;
    PutBe32(ihdr, static_cast<uint32_t>(width));
    PutBe32(ihdr, static_cast<uint32_t>(height));
    ihdr += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, no interlace
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 4 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        for (int x = 0; x < width; ++x) {
            uint32_t p = argb.empty() ? 0xFF000000u : argb[static_cast<size_t>(y) * width + x];
            raw += static_cast<char>((p >> 16) & 0xFF);
            raw += static_cast<char>((p >> 8) & 0xFF);
            raw += static_cast<char>(p & 0xFF);
            raw += static_cast<char>(p >> 24);
        }
    }
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + extra +
           Chunk("IDAT", ZlibStored(raw)) + Chunk("IEND", "");
}

// The gamma chunk, in units of 1/100000.
inline std::string Gamma(uint32_t gamma) {
    std::string d;
    PutBe32(d, gamma);
    return Chunk("gAMA", d);
}

// A 32-bit icon image as an .ico entry stores it: the header says twice the height (colour
// and mask), rows bottom-up in BGRA, then an all-zero AND mask.
inline std::string IconDib(int size, const std::vector<uint32_t>& argb) {
    std::string d;
    PutLe32(d, 40);
    PutLe32(d, static_cast<uint32_t>(size));
    PutLe32(d, static_cast<uint32_t>(size * 2));
    PutLe16(d, 1);
    PutLe16(d, 32);
    for (int k = 0; k < 6; ++k)
        PutLe32(d, 0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x)
            PutLe32(d, argb[static_cast<size_t>(y) * size + x]);
    size_t maskRow = ((static_cast<size_t>(size) + 31) / 32) * 4;
    d.append(maskRow * size, '\0');
    return d;
}

struct IcoEntry {
    int size;
    std::string image; // a DIB (IconDib) or a whole PNG file
};

inline std::string Ico(const std::vector<IcoEntry>& entries) {
    std::string out;
    PutLe16(out, 0);
    PutLe16(out, 1);
    PutLe16(out, static_cast<uint32_t>(entries.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
    for (const auto& e : entries) {
        out += static_cast<char>(e.size >= 256 ? 0 : e.size);
        out += static_cast<char>(e.size >= 256 ? 0 : e.size);
        out += '\0';
        out += '\0';
        PutLe16(out, 1);
        PutLe16(out, 32);
        PutLe32(out, static_cast<uint32_t>(e.image.size()));
        PutLe32(out, offset);
        offset += static_cast<uint32_t>(e.image.size());
    }
    for (const auto& e : entries)
        out += e.image;
    return out;
}

} // namespace pngfixture
