#pragma once

#include <QLineEdit>
#include <QStringList>
#include <functional>

class QMimeData;

namespace rqv5 {

// A text box that reports double-clicks (the progress box, which reveals the
// service panel).
class DoubleClickLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A text box that takes files dropped on it and nothing else: a drop of plain
// text is refused rather than typed into the box, and so is every drop while
// `refuse` says so.
class FileDropLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit FileDropLineEdit(QWidget* parent = nullptr);

    std::function<bool()> refuse;

signals:
    void filesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The local file paths a drop carries, in the drop's order.
QStringList droppedFilePaths(const QMimeData* mime);

} // namespace rqv5
