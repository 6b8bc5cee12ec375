#include "IDDOutlineView.h"

#include "platform/NameCodec.h"
#include "projects/IDDOutlineViewController.h"
#include "utilities/IColorUtil.h"

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QDataStream>
#include <QDateTime>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>
#include <algorithm>

int dateColumnWidth(const QTreeView* view, int column)
{
    // Every digit of the outline's fonts has one width; the 28th of December at 22:58 gives
    // the longest text a locale writes for its short format.
    const QDateTime widest(QDate(2000, 12, 28), QTime(22, 58, 58));
    const int text = view->fontMetrics().horizontalAdvance(QLocale().toString(widest, QLocale::ShortFormat));
    const QStyle* style = view->style();
    const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 8;
    return std::max(text + margins, view->header()->sectionSizeHint(column));
}

namespace DroppedData {

QString localPath(const QUrl& url)
{
    if (url.scheme() != QLatin1String("file"))
        return QString();
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost"))
        return QString();
    // never toLocalFile(): it turns bytes that are not UTF-8 into U+FFFD
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty())
        return QString();
    return NameCodec::decode(bytes);
}

QStringList localPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        const QString path = localPath(url);
        if (!path.isNull())
            paths.append(path);
    }
    return paths;
}

QByteArray encodeContent(const QString& description, const QImage& icon)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!icon.isNull())
        icon.save(&buffer, "PNG");
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << quint8(1) << description.toUtf8() << png;
    return data;
}

bool decodeContent(const QByteArray& data, QString* description, QImage* icon)
{
    QDataStream in(data);
    quint8 version = 0;
    QByteArray text, png;
    in >> version >> text >> png;
    if (in.status() != QDataStream::Ok || version != 1)
        return false;
    if (description)
        *description = QString::fromUtf8(text);
    if (icon)
        *icon = png.isEmpty() ? QImage() : QImage::fromData(png, "PNG");
    return true;
}

} // namespace DroppedData

IDDOutlineView::IDDOutlineView(QWidget* parent)
    : QTreeView(parent)
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragEnabled(true);
    setDropIndicatorShown(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

bool IDDOutlineView::accepts(const QMimeData* mime) const
{
    if (!m_controller || !mime || !m_controller->isDragAndDrop())
        return false;
    if (mime->hasFormat(QLatin1String(DroppedData::kOwnRowsType)))
        return false; // the outline's own rows: nothing to add
    if (mime->hasFormat(QLatin1String(DroppedData::kContentType)))
        return true;
    return !DroppedData::localPaths(mime).isEmpty();
}

void IDDOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!accepts(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_dragOver = true;
    viewport()->update();
}

void IDDOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_dragOver)
        event->acceptProposedAction();
    else
        event->ignore();
}

void IDDOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_dragOver = false;
    viewport()->update();
    event->accept();
}

void IDDOutlineView::dropEvent(QDropEvent* event)
{
    const bool wasOver = m_dragOver;
    m_dragOver = false;
    viewport()->update();
    const QMimeData* mime = event->mimeData();
    if (!wasOver || !accepts(mime)) {
        event->ignore();
        return;
    }
    if (mime->hasFormat(QLatin1String(DroppedData::kContentType))) {
        QString description;
        QImage icon;
        if (!DroppedData::decodeContent(
                mime->data(QLatin1String(DroppedData::kContentType)), &description, &icon)) {
            event->ignore();
            return;
        }
        m_controller->addTemplateToContent(description, icon);
    } else {
        m_controller->addFilesToContent(DroppedData::localPaths(mime));
    }
    m_controller->reloadViewData();
    event->acceptProposedAction();
}

void IDDOutlineView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    QPainter painter(viewport());
    QString text;
    if (m_controller && (!model() || model()->rowCount() == 0) && m_controller->isEmptyContentAndString(&text)
        && !text.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(14);
        painter.setFont(font);
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(
            viewport()->rect().adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
    if (m_dragOver) {
        QPen pen(QColor(255, 204, 0), kFrameWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const int half = kFrameWidth / 2;
        painter.drawRect(viewport()->rect().adjusted(half, half, -half - 1, -half - 1));
    }
}

void IDDOutlineView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid() && selectionModel() && !selectionModel()->hasSelection())
        selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Q_EMIT contextMenuRequestedAt(index, event->globalPos());
    event->accept();
}

void IDDOutlineView::startDrag(Qt::DropActions supportedActions)
{
    // Only the private type: a trash that received file URLs would trash the user's files.
    const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty())
        return;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    for (const QModelIndex& row : rows)
        out << row.row();
    auto* mime = new QMimeData;
    mime->setData(QLatin1String(DroppedData::kOwnRowsType), data);
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(supportedActions & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction);
}

void IDDOutlineView::setScrollRect(const QRect& rect)
{
    if (rect.width() <= 0)
        return;
    horizontalScrollBar()->setValue(rect.x());
    verticalScrollBar()->setValue(rect.y());
}

IDDImageView::IDDImageView(QWidget* parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
}

void IDDImageView::setContent(const QString& description, const QImage& icon)
{
    m_description = description;
    m_icon = icon;
    setPixmap(QPixmap::fromImage(icon));
    setToolTip(description);
}

void IDDImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(event);
    m_pressed = true;
    m_dragging = false;
    m_pressPos = event->position().toPoint();
}

void IDDImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed || m_dragging)
        return;
    if ((event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragging = true;
    startContentDrag();
}

void IDDImageView::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && !m_dragging && rect().contains(event->position().toPoint());
    m_pressed = false;
    m_dragging = false;
    if (click)
        Q_EMIT clicked();
}

void IDDImageView::startContentDrag()
{
    auto* mime = new QMimeData;
    mime->setData(
        QLatin1String(DroppedData::kContentType), DroppedData::encodeContent(m_description, m_icon));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(QPixmap::fromImage(m_icon));
    drag->exec(Qt::CopyAction);
    m_pressed = false;
}
