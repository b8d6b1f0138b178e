#include "message_presenter.h"

#include <QMessageBox>
#include <QPointer>

namespace rqv5 {

MessagePresenter messageBoxPresenter(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const QString& text, const QString& title, MessageIcon icon) {
        const auto boxIcon = icon == MessageIcon::Warning ? QMessageBox::Warning
                             : icon == MessageIcon::Error ? QMessageBox::Critical
                                                          : QMessageBox::NoIcon;
        QMessageBox box(boxIcon, title, text, QMessageBox::Ok, owner.data());
        box.exec();
    };
}

} // namespace rqv5
