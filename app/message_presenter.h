#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace rqv5 {

enum class MessageIcon { None, Warning, Error };

// Every message the program shows goes through one presenter: text, title, icon,
// one OK button; it returns when the user has closed it. The program shows a
// modal QMessageBox; window tests pass a recorder, so no test ever blocks.
using MessagePresenter = std::function<void(const QString& text, const QString& title, MessageIcon icon)>;

MessagePresenter messageBoxPresenter(QWidget* parent);

} // namespace rqv5
