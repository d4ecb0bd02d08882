#include "platform/ui/Graphics.h"

#include <QImageReader>

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

PaintScope::PaintScope(WindowHandle window)
    : window_(window), context_(std::make_unique<DrawingContext>()) {
    context_->impl().target = qt::BackBufferOf(window);
    context_->impl().transform = qt::PaintTransformOf(window);
}

PaintScope::~PaintScope() {
    context_->impl().End();
    qt::EndPaintOf(window_);
}

}  // namespace platform
