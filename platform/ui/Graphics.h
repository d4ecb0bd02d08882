// Drawing: bitmaps, drawing contexts with block and stretch copies and solid
// fills, and JPEG images decoded from a memory buffer and drawn scaled.
//
// A screen's paint step: `PaintScope paint(window)` gives the context of the
// window's back buffer; make a memory context, Select a bitmap into it and
// BlockCopy or StretchCopy from it onto `paint.Context()`; the back buffer is
// shown when the scope ends. Bitmaps are kept in one fast pixel format; skin
// bitmaps are converted once, when LoadBitmap reads them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/ui/Resources.h"
#include "platform/ui/Window.h"

namespace platform {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

class Bitmap {
public:
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    int Width() const;
    int Height() const;

    struct Impl;
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }
    explicit Bitmap(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

// Bitmap `id` of the module, decoded and converted once; null when there is none.
std::unique_ptr<Bitmap> LoadBitmap(const ResourceModule* module, uint32_t id);
// Bitmap `id` for `scale` device pixels per layout pixel: drawn afresh by the
// module where it can, else its picture scaled smoothly once, here; at 1 the
// same as LoadBitmap. Its size is the catalogued one times `scale`, rounded.
std::unique_ptr<Bitmap> LoadBitmap(const ResourceModule* module, uint32_t id, double scale);
// Decodes a picture from encoded bytes; null when they are not one.
std::unique_ptr<Bitmap> DecodeBitmap(std::span<const uint8_t> bytes);
// A black bitmap of that size in the drawing format.
std::unique_ptr<Bitmap> CreateBitmap(int width, int height);

// A place to draw: a window's back buffer or the bitmap selected into a
// memory context. Without a bitmap, a memory context reads as black and
// ignores drawing.
class DrawingContext {
public:
    // A memory context with no bitmap selected.
    DrawingContext();
    ~DrawingContext();
    DrawingContext(const DrawingContext&) = delete;
    DrawingContext& operator=(const DrawingContext&) = delete;

    // Selects `bitmap` (not owned; may be null) and returns the one selected before.
    Bitmap* Select(Bitmap* bitmap);
    // A bitmap of that size in the same format as this context.
    std::unique_ptr<Bitmap> CreateCompatibleBitmap(int width, int height) const;

    // Copies width x height pixels from (sx, sy) of `source` to (dx, dy).
    void BlockCopy(int dx, int dy, int width, int height, DrawingContext& source, int sx, int sy);
    // Copies the source rectangle scaled into the destination rectangle.
    void StretchCopy(int dx, int dy, int dw, int dh, DrawingContext& source, int sx, int sy, int sw,
                     int sh);
    // Fills the rectangle with one colour (0xRRGGBB).
    void FillSolid(const Rect& rect, uint32_t rgb);

    // A context on the pixels of `rect` of this one's, with (0, 0) at its top
    // left: what it draws lands here, without a copy. Null when nothing is
    // selected or the rectangle lies outside; valid while this context keeps
    // its target and is not drawn on meanwhile.
    std::unique_ptr<DrawingContext> Region(const Rect& rect);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// A JPEG image decoded from a memory buffer (the imaging service of the design).
class JpegImage {
public:
    // Null when the bytes are not a picture the decoder can read.
    static std::unique_ptr<JpegImage> FromBuffer(std::span<const uint8_t> bytes);
    // Decoded straight to width x height (scaled while decoding), for an image
    // drawn at that size many times.
    static std::unique_ptr<JpegImage> FromBuffer(std::span<const uint8_t> bytes, int width,
                                                 int height);
    ~JpegImage();
    JpegImage(const JpegImage&) = delete;
    JpegImage& operator=(const JpegImage&) = delete;
    int Width() const;
    int Height() const;
    // Draws the image scaled into `rect` of the context.
    void Draw(DrawingContext& context, const Rect& rect) const;
    // Draws it scaled into the largest rectangle of its own proportions that
    // fits centred in `rect`; the rest of `rect` is left as it was.
    void DrawFitted(DrawingContext& context, const Rect& rect) const;
    // That rectangle, for an image of this size.
    Rect FittedRect(const Rect& rect) const;

    struct Impl;

private:
    explicit JpegImage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Begins painting `window` (a dialog, inside its paint message) and ends it
// when the scope ends. Context() draws on the window's back buffer in the
// window's own pixels, the client size (the screen scales them when its
// pixels are finer); DeviceContext() draws on the same buffer in the screen's
// pixels, DeviceScale() of them to a window pixel, for a screen that draws
// itself at the screen's resolution. Use one of the two per paint.
class PaintScope {
public:
    explicit PaintScope(WindowHandle window);
    ~PaintScope();
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    DrawingContext& Context() { return *context_; }
    DrawingContext& DeviceContext();
    double DeviceScale() const;

private:
    WindowHandle window_;
    std::unique_ptr<DrawingContext> context_;
    std::unique_ptr<DrawingContext> device_;
};

}  // namespace platform
