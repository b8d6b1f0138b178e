#include "frm_main.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rqv5flash"));
    rqv5::frmMain window;
    window.show();
    return QApplication::exec();
}
