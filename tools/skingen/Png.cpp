#include "tools/skingen/Png.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace {

uint8_t ToByte(double v) {
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

void Put32(std::string& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<char>((v >> s) & 0xFF));
}

void Chunk(std::string& out, const char* type, const std::string& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    out += body;
    Put32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

} // namespace

void Image::Set(int x, int y, double r, double g, double b, double a) {
    uint8_t* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
    p[0] = ToByte(r), p[1] = ToByte(g), p[2] = ToByte(b), p[3] = ToByte(a);
}

void Image::Blit(cairo_surface_t* surface, int x0, int y0) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
            const unsigned a = v >> 24;
            uint8_t* p = &m_px[(static_cast<size_t>(y0 + y) * m_w + x0 + x) * 4];
            for (int c = 0; c < 3; ++c) {
                const unsigned pm = (v >> (16 - 8 * c)) & 0xFF;
                p[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (pm * 255 + a / 2) / a));
            }
            p[3] = static_cast<uint8_t>(a);
        }
}

cairo_surface_t* Image::ToSurface() const {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, m_w, m_h);
    cairo_surface_flush(s);
    const int stride = cairo_image_surface_get_stride(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < m_h; ++y)
        for (int x = 0; x < m_w; ++x) {
            const uint8_t* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
            const unsigned a = p[3];
            auto pm = [a](unsigned c) { return (c * a + 127) / 255; };
            *reinterpret_cast<uint32_t*>(data + y * stride + x * 4) =
                (a << 24) | (pm(p[0]) << 16) | (pm(p[1]) << 8) | pm(p[2]);
        }
    cairo_surface_mark_dirty(s);
    return s;
}

void Image::WritePng(const std::string& path) const {
    // Each row takes the filter whose output has the smallest sum of magnitudes: a choice made from
    // the pixels alone, so it is as repeatable as the pixels.
    const size_t rowBytes = static_cast<size_t>(m_w) * 4;
    std::string raw;
    raw.reserve((rowBytes + 1) * m_h);
    std::string best, trial(rowBytes, '\0');
    for (int y = 0; y < m_h; ++y) {
        const uint8_t* cur = &m_px[y * rowBytes];
        const uint8_t* up = y > 0 ? &m_px[(y - 1) * rowBytes] : nullptr;
        long bestScore = -1;
        int bestFilter = 0;
        for (int f = 0; f < 5; ++f) {
            long score = 0;
            for (size_t i = 0; i < rowBytes; ++i) {
                const int a = i >= 4 ? cur[i - 4] : 0, b = up ? up[i] : 0, c = (up && i >= 4) ? up[i - 4] : 0;
                int pred = 0;
                switch (f) {
                case 1:
                    pred = a;
                    break;
                case 2:
                    pred = b;
                    break;
                case 3:
                    pred = (a + b) / 2;
                    break;
                case 4:
                    pred = Paeth(a, b, c);
                    break;
                default:
                    break;
                }
                const uint8_t v = static_cast<uint8_t>(cur[i] - pred);
                trial[i] = static_cast<char>(v);
                score += v < 128 ? v : 256 - v;
            }
            if (bestScore < 0 || score < bestScore) {
                bestScore = score;
                bestFilter = f;
                best = trial;
            }
        }
        raw.push_back(static_cast<char>(bestFilter));
        raw += best;
    }
    uLongf packedSize = compressBound(raw.size());
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9) != Z_OK)
        throw std::runtime_error("cannot compress " + path);
    packed.resize(packedSize);

    std::string out = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    Put32(ihdr, static_cast<uint32_t>(m_w));
    Put32(ihdr, static_cast<uint32_t>(m_h));
    ihdr += std::string("\x08\x06\x00\x00\x00", 5); // 8-bit RGBA, deflate, adaptive filters, no interlace
    Chunk(out, "IHDR", ihdr);
    Chunk(out, "IDAT", packed);
    Chunk(out, "IEND", "");
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(out.data(), static_cast<std::streamsize>(out.size()));
        if (!f)
            throw std::runtime_error("cannot write " + path);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
}
