#pragma once

// Steps the snapshot-pane tests take through the real widgets, as a user does.

#include "panes/backup/IBackup3PropertiesController.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/DestinationMenu.h"

#include <QFile>
#include <QTreeView>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

namespace SnapshotPaneSteps {

// Picks the volume of folder in the sheet's destination menu; the sheet then asks for the folder
// on it (the test's prompts answer).
inline bool chooseDestination(IBackup3PropertiesController* sheet, const QString& folder)
{
    std::unique_ptr<ILocation> probe(ILocation::create());
    if (!probe->setupWithPath(folder))
        return false;
    DestinationMenu* menu = sheet->destinationMenu();
    const qint64 tag = menu->itemList().tagForLocation(probe.get());
    const int index = menu->findData(tag);
    if (tag < 0 || index < 0)
        return false;
    menu->setCurrentIndex(index);
    Q_EMIT menu->activated(index);
    return menu->selectedTag() == tag;
}

// Clicks the include check box of an outline row.
inline void clickCheck(QTreeView* view, const QModelIndex& index)
{
    const QRect r = view->visualRect(index.siblingAtColumn(SourceOutlineModel::ColIncluded));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 10, r.center().y()));
}

inline ino_t inodeOf(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 ? st.st_ino : 0;
}

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace SnapshotPaneSteps
