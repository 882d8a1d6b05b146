// Reads a PNG file of the skin package whole: its chunk names in order and, for 8-bit RGBA and RGB
// pictures without interlacing, its pixels as straight RGBA.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

struct PngFile {
    bool ok = false;
    std::string error;
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    std::vector<std::string> chunks;
    std::vector<uint8_t> rgba; // width x height x 4, filled when the format is one we decode

    const uint8_t* At(uint32_t x, uint32_t y) const {
        return &rgba[(static_cast<size_t>(y) * width + x) * 4];
    }
    uint32_t Pixel(uint32_t x, uint32_t y) const {
        const uint8_t* p = At(x, y);
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
};

inline PngFile ReadPng(const std::string& bytes) {
    PngFile png;
    auto be32 = [&](size_t at) {
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    };
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        png.error = "no PNG signature";
        return png;
    }
    std::string idat;
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const uint32_t n = be32(at);
        if (n > bytes.size() - at - 12) {
            png.error = "chunk runs past the end";
            return png;
        }
        const std::string type = bytes.substr(at + 4, 4);
        png.chunks.push_back(type);
        if (type == "IHDR" && n >= 13) {
            png.width = be32(at + 8);
            png.height = be32(at + 12);
            png.bitDepth = static_cast<uint8_t>(bytes[at + 16]);
            png.colorType = static_cast<uint8_t>(bytes[at + 17]);
            png.interlace = static_cast<uint8_t>(bytes[at + 20]);
        } else if (type == "IDAT") {
            idat.append(bytes, at + 8, n);
        }
        at += 12 + n;
    }
    if (png.chunks.empty() || png.chunks.front() != "IHDR" || png.chunks.back() != "IEND") {
        png.error = "chunks do not run from IHDR to IEND";
        return png;
    }
    png.ok = true;
    const int channels = png.colorType == 6 ? 4 : png.colorType == 2 ? 3 : 0;
    if (channels == 0 || png.bitDepth != 8 || png.interlace != 0 || png.width > 8192 || png.height > 8192)
        return png; // header only
    const size_t stride = png.width * channels;
    std::vector<uint8_t> raw((stride + 1) * png.height);
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(idat.data()), idat.size()) != Z_OK ||
        rawSize != raw.size()) {
        png.ok = false;
        png.error = "image data does not inflate to its size";
        return png;
    }
    std::vector<uint8_t> prev(stride, 0), cur(stride);
    png.rgba.resize(static_cast<size_t>(png.width) * png.height * 4);
    for (uint32_t y = 0; y < png.height; ++y) {
        const uint8_t* line = &raw[y * (stride + 1)];
        const int filter = line[0];
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= size_t(channels) ? cur[i - channels] : 0, b = prev[i];
            const int c = i >= size_t(channels) ? prev[i - channels] : 0;
            int pred = 0;
            if (filter == 1)
                pred = a;
            else if (filter == 2)
                pred = b;
            else if (filter == 3)
                pred = (a + b) / 2;
            else if (filter == 4) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            }
            cur[i] = static_cast<uint8_t>(line[1 + i] + pred);
        }
        for (uint32_t x = 0; x < png.width; ++x) {
            uint8_t* out = &png.rgba[(static_cast<size_t>(y) * png.width + x) * 4];
            for (int k = 0; k < 3; ++k)
                out[k] = cur[x * channels + k];
            out[3] = channels == 4 ? cur[x * channels + 3] : 255;
        }
        prev.swap(cur);
    }
    return png;
}
