#pragma once

#include <QAbstractButton>
#include <QIcon>

// The borderless toolbar button: a title in the appearance's colours, or an image per state
// (normal, moused, disabled). clicked() comes only from a release over the button.
class ATBigButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ATBigButton(QWidget* parent = nullptr);

    bool isTitleOnly() const { return m_titleOnly; }
    void setTitleOnly(bool on);
    // Leaves title mode; a missing moused or pressed image becomes this one.
    void setNormalImage(const QIcon& image);
    void setMousedImage(const QIcon& image);
    void setPressedImage(const QIcon& image);
    void setDisabledImage(const QIcon& image);
    QIcon normalImage() const { return m_normal; }
    QIcon mousedImage() const { return m_moused; }
    QIcon pressedImage() const { return m_pressed; }
    QIcon disabledImage() const { return m_disabled; }
    void setDrawImagesToButtonSize(bool on);
    bool isMouseEntered() const { return m_mouseEntered; }

    // The colours the title is drawn in; normal and disabled follow the appearance.
    QColor normalColor() const;
    QColor mousedColor() const { return QColor(53, 98, 216); }
    QColor disabledColor() const;
    // The image or colour the button draws now (for its state).
    QIcon currentImage() const;
    QColor currentColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_titleOnly = true;
    bool m_toSize = false;
    bool m_mouseEntered = false;
    QIcon m_normal, m_moused, m_pressed, m_disabled;
};
