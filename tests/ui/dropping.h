#pragma once

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

namespace tqb9::test {

// What a window gets when a file is dropped on it; true when it took the drop.
inline bool drop(QWidget& window, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &dropped);
    // The file is read once the drop has been answered.
    QCoreApplication::sendPostedEvents();
    return enter.isAccepted() && dropped.isAccepted();
}

// A file named name in dir holding text; its path.
inline QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile file(dir.filePath(QLatin1String(name)));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
}

// Intel HEX of four bytes, 01 02 03 04, at the start of each flash block that a run erases: the
// least a file may hold without leaving part of the radio blank.
inline const char* const kFourBytesPerEraseBlock = ":02000004000CEE\n:0400000001020304F2\n"
                                                   ":02000004000DED\n:0400000001020304F2\n"
                                                   ":02000004000EEC\n:0400000001020304F2\n"
                                                   ":02000004000FEB\n:0400000001020304F2\n"
                                                   ":048000000102030472\n:04A000000102030452\n"
                                                   ":04C000000102030432\n:04E000000102030412\n"
                                                   ":00000001FF\n";

} // namespace tqb9::test
