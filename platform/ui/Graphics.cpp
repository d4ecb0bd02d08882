#include "platform/ui/Graphics.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ui/Application.h"
#include "platform/ui/QtSupport.h"

namespace platform {

Bitmap::Bitmap(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Bitmap::~Bitmap() = default;
int Bitmap::Width() const {
    return impl_->image.width();
}
int Bitmap::Height() const {
    return impl_->image.height();
}

std::unique_ptr<Bitmap> DecodeBitmap(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
    if (image.isNull()) {
        return nullptr;
    }
    // Converted once here; every copy afterwards is a plain pixel copy. A
    // picture with transparency keeps it, premultiplied for fast drawing.
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                          : QImage::Format_RGB32);
    auto impl = std::make_unique<Bitmap::Impl>();
    impl->image = std::move(image);
    return std::make_unique<Bitmap>(std::move(impl));
}

std::unique_ptr<Bitmap> LoadBitmap(const ResourceModule* module, uint32_t id) {
    if (module == nullptr || module->findBitmap == nullptr) {
        return nullptr;
    }
    return DecodeBitmap(module->findBitmap(id));
}

namespace {

std::unique_ptr<Bitmap> BitmapOf(QImage image) {
    auto impl = std::make_unique<Bitmap::Impl>();
    impl->image = std::move(image);
    return std::make_unique<Bitmap>(std::move(impl));
}

// The module's own drawing of the bitmap at that scale, or a null image.
QImage DrawnBitmap(const ResourceModule* module, uint32_t id, double scale) {
    if (module == nullptr || module->drawBitmap == nullptr) {
        return QImage();
    }
    BitmapPixels drawn;
    if (!module->drawBitmap(id, scale, drawn) || drawn.width <= 0 || drawn.height <= 0 ||
        drawn.pixels.size() !=
            static_cast<size_t>(drawn.width) * static_cast<size_t>(drawn.height)) {
        return QImage();
    }
    QImage image(drawn.width, drawn.height, QImage::Format_RGB32);
    if (image.isNull()) {
        return QImage();
    }
    const size_t row = static_cast<size_t>(drawn.width) * sizeof(uint32_t);
    for (int y = 0; y < drawn.height; ++y) {
        std::memcpy(image.scanLine(y), &drawn.pixels[static_cast<size_t>(y) * row / 4], row);
    }
    return image;
}

}  // namespace

std::unique_ptr<Bitmap> LoadBitmap(const ResourceModule* module, uint32_t id, double scale) {
    if (scale == 1.0) {
        return LoadBitmap(module, id);
    }
    if (!(scale > 0.0)) {
        return nullptr;
    }
    if (QImage drawn = DrawnBitmap(module, id, scale); !drawn.isNull()) {
        return BitmapOf(std::move(drawn));
    }
    // No drawing of its own: the picture scaled once, smoothly, so that every
    // later copy is a plain one.
    std::unique_ptr<Bitmap> picture = LoadBitmap(module, id);
    if (picture == nullptr) {
        return nullptr;
    }
    const QImage& image = picture->impl().image;
    const int width = std::max(1, static_cast<int>(std::lround(image.width() * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(image.height() * scale)));
    return BitmapOf(image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(image.format()));
}

std::unique_ptr<Bitmap> CreateBitmap(int width, int height) {
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    auto impl = std::make_unique<Bitmap::Impl>();
    impl->image = QImage(width, height, QImage::Format_RGB32);
    impl->image.fill(Qt::black);
    return std::make_unique<Bitmap>(std::move(impl));
}

DrawingContext::DrawingContext() : impl_(std::make_unique<Impl>()) {}
DrawingContext::~DrawingContext() = default;

Bitmap* DrawingContext::Select(Bitmap* bitmap) {
    Bitmap* previous = impl_->selected;
    impl_->End();
    impl_->selected = bitmap;
    impl_->target = bitmap != nullptr ? &bitmap->impl().image : nullptr;
    return previous;
}

std::unique_ptr<Bitmap> DrawingContext::CreateCompatibleBitmap(int width, int height) const {
    return CreateBitmap(width, height);
}

namespace {

// The pixels of a source context, as they stand now; a context without a bitmap reads black.
const QImage* SourceImage(DrawingContext& source) {
    return source.impl().target;
}

}  // namespace

void DrawingContext::BlockCopy(int dx, int dy, int width, int height, DrawingContext& source,
                               int sx, int sy) {
    QPainter* painter = impl_->Painter();
    if (painter == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const QImage* from = SourceImage(source);
    if (from == nullptr || from->isNull()) {
        painter->fillRect(dx, dy, width, height, Qt::black);
        return;
    }
    painter->drawImage(QPoint(dx, dy), *from, QRect(sx, sy, width, height));
}

void DrawingContext::StretchCopy(int dx, int dy, int dw, int dh, DrawingContext& source, int sx,
                                 int sy, int sw, int sh) {
    QPainter* painter = impl_->Painter();
    if (painter == nullptr || dw <= 0 || dh <= 0) {
        return;
    }
    const QImage* from = SourceImage(source);
    if (from == nullptr || from->isNull()) {
        painter->fillRect(dx, dy, dw, dh, Qt::black);
        return;
    }
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawImage(QRect(dx, dy, dw, dh), *from, QRect(sx, sy, sw, sh));
}

void DrawingContext::FillSolid(const Rect& rect, uint32_t rgb) {
    if (QPainter* painter = impl_->Painter()) {
        painter->fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                          QColor::fromRgb(static_cast<QRgb>(rgb)));
    }
}

namespace {

// A view of `rect` of `image`'s pixels (no copy), in device pixels; null
// when the image is not one of 32-bit pixels or the rectangle misses it.
QImage ViewOf(QImage& image, const QRect& rect) {
    const QRect inside = rect.intersected(QRect(0, 0, image.width(), image.height()));
    if (image.isNull() || image.depth() != 32 || inside.isEmpty()) {
        return QImage();
    }
    uchar* first = image.bits() + static_cast<qsizetype>(inside.top()) * image.bytesPerLine() +
                   static_cast<qsizetype>(inside.left()) * 4;
    return QImage(first, inside.width(), inside.height(), image.bytesPerLine(), image.format());
}

std::unique_ptr<DrawingContext> ContextOn(QImage view) {
    if (view.isNull()) {
        return nullptr;
    }
    auto context = std::make_unique<DrawingContext>();
    context->impl().view = std::move(view);
    context->impl().target = &context->impl().view;
    return context;
}

}  // namespace

std::unique_ptr<DrawingContext> DrawingContext::Region(const Rect& rect) {
    if (impl_->target == nullptr) {
        return nullptr;
    }
    // What was drawn here so far is in the pixels before the region draws.
    impl_->End();
    return ContextOn(
        ViewOf(*impl_->target, QRect(rect.left, rect.top, rect.Width(), rect.Height())));
}

struct JpegImage::Impl {
    QImage image;
};

JpegImage::JpegImage(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
JpegImage::~JpegImage() = default;

std::unique_ptr<JpegImage> JpegImage::FromBuffer(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
    if (image.isNull()) {
        return nullptr;
    }
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    auto impl = std::make_unique<Impl>();
    impl->image = std::move(image);
    return std::unique_ptr<JpegImage>(new JpegImage(std::move(impl)));
}

std::unique_ptr<JpegImage> JpegImage::FromBuffer(std::span<const uint8_t> bytes, int width,
                                                 int height) {
    if (bytes.empty() || width <= 0 || height <= 0) {
        return nullptr;
    }
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    QImageReader reader(&buffer);
    reader.setScaledSize(QSize(width, height));
    QImage image = reader.read();
    if (image.isNull()) {
        return nullptr;
    }
    if (image.size() != QSize(width, height)) {
        image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    auto impl = std::make_unique<Impl>();
    impl->image = std::move(image);
    return std::unique_ptr<JpegImage>(new JpegImage(std::move(impl)));
}

int JpegImage::Width() const {
    return impl_->image.width();
}
int JpegImage::Height() const {
    return impl_->image.height();
}

void JpegImage::Draw(DrawingContext& context, const Rect& rect) const {
    QPainter* painter = context.impl().Painter();
    if (painter == nullptr || rect.Width() <= 0 || rect.Height() <= 0) {
        return;
    }
    const QRect target(rect.left, rect.top, rect.Width(), rect.Height());
    if (target.size() == impl_->image.size()) {
        painter->drawImage(target.topLeft(), impl_->image);
    } else {
        painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter->drawImage(target, impl_->image);
    }
}

Rect JpegImage::FittedRect(const Rect& rect) const {
    const int64_t w = impl_->image.width();
    const int64_t h = impl_->image.height();
    const int64_t rw = rect.Width();
    const int64_t rh = rect.Height();
    if (w <= 0 || h <= 0 || rw <= 0 || rh <= 0) {
        return Rect{rect.left, rect.top, rect.left, rect.top};
    }
    int64_t fw = rw;
    int64_t fh = rh;
    if (rw * h <= rh * w) {
        fh = std::max<int64_t>(1, (rw * h * 2 + w) / (2 * w));  // rounded
    } else {
        fw = std::max<int64_t>(1, (rh * w * 2 + h) / (2 * h));
    }
    const int left = rect.left + static_cast<int>((rw - fw) / 2);
    const int top = rect.top + static_cast<int>((rh - fh) / 2);
    return Rect{left, top, left + static_cast<int>(fw), top + static_cast<int>(fh)};
}

void JpegImage::DrawFitted(DrawingContext& context, const Rect& rect) const {
    Draw(context, FittedRect(rect));
}

PaintScope::PaintScope(WindowHandle window)
    : window_(window), context_(std::make_unique<DrawingContext>()) {
    context_->impl().target = qt::BackBufferOf(window);
    context_->impl().transform = qt::PaintTransformOf(window);
}

PaintScope::~PaintScope() {
    if (device_ != nullptr) {
        device_->impl().End();
    }
    context_->impl().End();
    qt::EndPaintOf(window_);
}

DrawingContext& PaintScope::DeviceContext() {
    if (device_ == nullptr) {
        QImage* buffer = context_->impl().target;
        context_->impl().End();
        if (buffer != nullptr) {
            device_ = ContextOn(ViewOf(*buffer, QRect(0, 0, buffer->width(), buffer->height())));
        }
        if (device_ == nullptr) {
            device_ = std::make_unique<DrawingContext>();  // no window: draws nothing
        }
    }
    return *device_;
}

double PaintScope::DeviceScale() const {
    const QImage* buffer = context_->impl().target;
    return buffer != nullptr && !buffer->isNull() ? buffer->devicePixelRatio() : 1.0;
}

}  // namespace platform
