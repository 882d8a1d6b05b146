// The GDI+ subset the program draws its skin images with: images from files and a Graphics
// over a DC that draws them scaled by nearest neighbour, blended source-over.
//
// Images are decoded by gdk-pixbuf with no gamma or colour-profile correction, so drawn pixels
// are the file's own stored values. A file that does not load still gives an object: 0 by 0,
// drawing nothing. Resampling maps destination pixel i of a span of n to source pixel
// floor((2i + 1) m / 2n) of a span of m, the half-pixel-centre nearest neighbour that the
// program asks for (InterpolationModeNearestNeighbor with PixelOffsetModeHighQuality); it is
// used whatever modes are set. Objects are used on the thread that made them.
#pragma once

#include "platform/base/Win32Types.h"
#include "platform/gdi/WinGdi.h"

#include <memory>

namespace afxgdi::detail {
struct Picture;
}

namespace Gdiplus {

using REAL = float;
using ARGB = DWORD;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};

enum Unit {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

enum InterpolationMode {
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum PixelOffsetMode {
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

enum DebugEventLevel { DebugEventLevelFatal, DebugEventLevelWarning };
using DebugEventProc = void (*)(DebugEventLevel level, CHAR* message);
using NotificationHookProc = Status (*)(ULONG_PTR* token);
using NotificationUnhookProc = void (*)(ULONG_PTR token);

struct GdiplusStartupInput {
    GdiplusStartupInput(DebugEventProc debugEventCallback = nullptr, BOOL suppressBackgroundThread = FALSE,
                        BOOL suppressExternalCodecs = FALSE)
        : GdiplusVersion(1), DebugEventCallback(debugEventCallback),
          SuppressBackgroundThread(suppressBackgroundThread), SuppressExternalCodecs(suppressExternalCodecs) {
    }
    UINT GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};

struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;
};

// Nothing needs starting here; the token pairs a startup with its shutdown.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
void GdiplusShutdown(ULONG_PTR token);

class Rect {
public:
    Rect() : X(0), Y(0), Width(0), Height(0) {}
    Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
    INT X, Y, Width, Height;
};

class ImageAttributes;
using DrawImageAbort = BOOL (*)(void*);

class Image {
public:
    // The path as the program builds it, in UTF-16; mapped to the file system by the kernel.
    explicit Image(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    static Image* FromFile(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);

    UINT GetWidth();
    UINT GetHeight();
    Status GetLastStatus() const { return m_status; }

protected:
    friend class Graphics;
    std::unique_ptr<afxgdi::detail::Picture> m_picture; // empty when the file did not load
    Status m_status = Ok;
};

class Bitmap : public Image {
public:
    explicit Bitmap(const WCHAR* filename, BOOL useIcm = FALSE) : Image(filename, useIcm) {}
    static Bitmap* FromFile(const WCHAR* filename, BOOL useIcm = FALSE);
};

class Graphics {
public:
    explicit Graphics(HDC hdc);
    ~Graphics() = default;
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    static Graphics* FromHDC(HDC hdc);

    Status SetInterpolationMode(InterpolationMode mode);
    InterpolationMode GetInterpolationMode() const { return m_interpolation; }
    Status SetPixelOffsetMode(PixelOffsetMode mode);
    PixelOffsetMode GetPixelOffsetMode() const { return m_pixelOffset; }

    // The whole image at its own size, or scaled into a rectangle.
    Status DrawImage(Image* image, INT x, INT y);
    Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
    Status DrawImage(Image* image, const Rect& destRect);
    // A part of the image at its own size.
    Status DrawImage(Image* image, INT x, INT y, INT srcx, INT srcy, INT srcwidth, INT srcheight,
                     Unit srcUnit);
    // A part of the image scaled into a rectangle; source pixels outside the image draw nothing.
    Status DrawImage(Image* image, const Rect& destRect, INT srcx, INT srcy, INT srcwidth, INT srcheight,
                     Unit srcUnit, const ImageAttributes* imageAttributes = nullptr,
                     DrawImageAbort callback = nullptr, void* callbackData = nullptr);
    Status DrawImage(Image* image, INT dstx, INT dsty, INT dstwidth, INT dstheight, INT srcx, INT srcy,
                     INT srcwidth, INT srcheight, Unit srcUnit);

    Status GetLastStatus() const { return m_status; }

private:
    Status Draw(Image* image, INT dx, INT dy, INT dw, INT dh, INT sx, INT sy, INT sw, INT sh, Unit unit);

    HDC m_hdc;
    InterpolationMode m_interpolation = InterpolationModeBilinear;
    PixelOffsetMode m_pixelOffset = PixelOffsetModeDefault;
    Status m_status = Ok;
};

} // namespace Gdiplus
