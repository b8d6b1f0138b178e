#include "widgets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace rqv5 {

void DoubleClickLineEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

QStringList droppedFilePaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

FileDropLineEdit::FileDropLineEdit(QWidget* parent) : QLineEdit(parent) {
    setAcceptDrops(true);
}

void FileDropLineEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!(refuse && refuse()) && !droppedFilePaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileDropLineEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!(refuse && refuse()) && !droppedFilePaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileDropLineEdit::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedFilePaths(event->mimeData());
    if (paths.isEmpty() || (refuse && refuse())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(paths);
}

} // namespace rqv5
