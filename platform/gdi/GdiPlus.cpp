#include "platform/gdi/GdiPlus.h"
#include "platform/gdi/GdiObjects.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/FileSys.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using afxgdi::detail::Picture;

namespace {

// No image file the program draws comes near this; a larger one is refused before it is read.
constexpr long long kMaxImageFileBytes = 256LL * 1024 * 1024;

std::atomic<ULONG_PTR> g_nextToken{1};

enum class ReadResult { Ok, Missing, TooLarge };

ReadResult ReadWholeFile(const std::string& path, std::string& out) {
    const int fd = AfxOpenRegularFile(path.c_str(), O_RDONLY);
    if (fd < 0)
        return ReadResult::Missing;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size > kMaxImageFileBytes) {
        close(fd);
        return st.st_size > kMaxImageFileBytes ? ReadResult::TooLarge : ReadResult::Missing;
    }
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        close(fd);
        return ReadResult::Missing;
    }
    out.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 &&
           static_cast<long long>(out.size()) <= kMaxImageFileBytes)
        out.append(buf, n);
    std::fclose(f);
    return static_cast<long long>(out.size()) <= kMaxImageFileBytes ? ReadResult::Ok : ReadResult::TooLarge;
}

} // namespace

namespace Gdiplus {

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
    if (!token || !input)
        return InvalidParameter;
    if (input->GdiplusVersion != 1 && input->GdiplusVersion != 2)
        return UnsupportedGdiplusVersion;
    if (output) {
        output->NotificationHook = nullptr;
        output->NotificationUnhook = nullptr;
    }
    *token = g_nextToken.fetch_add(1);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR) {}

Image::Image(const WCHAR* filename, BOOL) {
    if (!filename) {
        m_status = InvalidParameter;
        return;
    }
    std::string path;
    std::u16string wide(filename);
    // A name the ANSI code page cannot hold names no file the program could have made.
    std::string back = AfxUtf16ToAnsi(wide);
    if (AfxAnsiToUtf16(back) != wide || !AfxMapPath(back.c_str(), path)) {
        m_status = FileNotFound;
        return;
    }
    std::string bytes;
    switch (ReadWholeFile(path, bytes)) {
    case ReadResult::Missing:
        m_status = FileNotFound;
        return;
    case ReadResult::TooLarge:
        m_status = OutOfMemory;
        return;
    case ReadResult::Ok:
        break;
    }
    auto picture = std::make_unique<Picture>();
    if (!afxgdi::detail::DecodePicture(bytes.data(), bytes.size(), *picture)) {
        m_status = UnknownImageFormat;
        return;
    }
    m_picture = std::move(picture);
}

Image::~Image() = default;

Image* Image::FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement) {
    return new Image(filename, useEmbeddedColorManagement);
}

UINT Image::GetWidth() {
    return m_picture ? static_cast<UINT>(m_picture->width) : 0;
}

UINT Image::GetHeight() {
    return m_picture ? static_cast<UINT>(m_picture->height) : 0;
}

Bitmap* Bitmap::FromFile(const WCHAR* filename, BOOL useIcm) {
    return new Bitmap(filename, useIcm);
}

Graphics::Graphics(HDC hdc) : m_hdc(hdc) {
    if (!afxgdi::detail::AsDc(hdc))
        m_status = InvalidParameter;
}

Graphics* Graphics::FromHDC(HDC hdc) {
    return new Graphics(hdc);
}

Status Graphics::SetInterpolationMode(InterpolationMode mode) {
    if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
        return m_status = InvalidParameter;
    m_interpolation = mode;
    return Ok;
}

Status Graphics::SetPixelOffsetMode(PixelOffsetMode mode) {
    if (mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf)
        return m_status = InvalidParameter;
    m_pixelOffset = mode;
    return Ok;
}

Status Graphics::Draw(Image* image, INT dx, INT dy, INT dw, INT dh, INT sx, INT sy, INT sw, INT sh,
                      Unit unit) {
    if (!image || unit != UnitPixel)
        return m_status = InvalidParameter;
    // A failed image, or an empty rectangle, draws nothing.
    if (!image->m_picture)
        return m_status = image->GetLastStatus() == Ok ? InvalidParameter : image->GetLastStatus();
    afxgdi::detail::Target t;
    if (!afxgdi::detail::GetTarget(m_hdc, t))
        return m_status = InvalidParameter;
    afxgdi::detail::DrawPicture(t, *image->m_picture, dx, dy, dw, dh, sx, sy, sw, sh);
    return Ok;
}

Status Graphics::DrawImage(Image* image, INT x, INT y) {
    return DrawImage(image, x, y, static_cast<INT>(image ? image->GetWidth() : 0),
                     static_cast<INT>(image ? image->GetHeight() : 0));
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height) {
    INT w = static_cast<INT>(image ? image->GetWidth() : 0),
        h = static_cast<INT>(image ? image->GetHeight() : 0);
    return Draw(image, x, y, width, height, 0, 0, w, h, UnitPixel);
}

Status Graphics::DrawImage(Image* image, const Rect& destRect) {
    return DrawImage(image, destRect.X, destRect.Y, destRect.Width, destRect.Height);
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT srcx, INT srcy, INT srcwidth, INT srcheight,
                           Unit srcUnit) {
    return Draw(image, x, y, srcwidth, srcheight, srcx, srcy, srcwidth, srcheight, srcUnit);
}

Status Graphics::DrawImage(Image* image, const Rect& destRect, INT srcx, INT srcy, INT srcwidth,
                           INT srcheight, Unit srcUnit, const ImageAttributes*, DrawImageAbort, void*) {
    return Draw(image, destRect.X, destRect.Y, destRect.Width, destRect.Height, srcx, srcy, srcwidth,
                srcheight, srcUnit);
}

Status Graphics::DrawImage(Image* image, INT dstx, INT dsty, INT dstwidth, INT dstheight, INT srcx, INT srcy,
                           INT srcwidth, INT srcheight, Unit srcUnit) {
    return Draw(image, dstx, dsty, dstwidth, dstheight, srcx, srcy, srcwidth, srcheight, srcUnit);
}

} // namespace Gdiplus
