#pragma once

#include <QAbstractButton>
#include <QIcon>

// The small turning-arrow button of outline heads: one image per state (normal, pressed,
// disabled), shared by every button and loaded once. clicked() comes only from a release over
// the button.
class QVToggleHeadButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit QVToggleHeadButton(QWidget* parent = nullptr);
    // Placed so that its top-right corner is at topRight (in the parent's coordinates).
    QVToggleHeadButton(const QPoint& topRight, QWidget* parent);

    // The normal image's size; empty when the image did not load.
    static QSize buttonSize();
    // The image drawn now: disabled, else pressed while held down, else normal.
    QIcon currentImage() const;

    QSize sizeHint() const override { return buttonSize(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
