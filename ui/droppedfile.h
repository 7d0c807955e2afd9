#pragma once

#include <QMimeData>
#include <QString>
#include <QUrl>

namespace tqb9 {

// The one local file a drop carries, or nothing: both windows take firmware this way.
inline QString droppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().constFirst().isLocalFile())
        return {};
    return data->urls().constFirst().toLocalFile();
}

} // namespace tqb9
