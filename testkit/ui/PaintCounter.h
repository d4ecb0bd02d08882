// Counts the paints a widget receives while this object lives: the one way
// tests and benchmarks tell that a window was drawn (or was not).
#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace uitest {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : widget_(widget) { widget_->installEventFilter(this); }
    ~PaintCounter() override { widget_->removeEventFilter(this); }
    PaintCounter(const PaintCounter&) = delete;
    PaintCounter& operator=(const PaintCounter&) = delete;

    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }

private:
    QWidget* widget_;
};

}  // namespace uitest
