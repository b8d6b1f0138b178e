// One protocol procedure at a time. While a wait yields, every shown control
// stays live, and a click that started a second procedure would write its
// command into the middle of the first exchange on the same port, spoiling both.
// Such clicks do nothing, a file drop is refused, and the COM menu stays usable
// but applies only at the next open. The radio's own list of what it received
// shows that nothing was interleaved.
#include "window_fixture.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::Kind)

namespace {

constexpr int DataChunks = 250;

// Paced like a real line, so that every wait takes virtual time during which
// the clock can deliver a click: a full update lasts about 48 seconds.
sim::RadioOptions pacedRadio() {
    sim::RadioOptions options;
    options.pacing.baud = 57600;
    return options;
}

// Every hidden control that could start a procedure, shown: the service panel
// through its reveal, the rest as a changed layout would show them.
void showEverything(frmMain& w) {
    for (int i = 0; i < frmMain::RevealCount; ++i)
        w.Text1_DblClick();
    for (QWidget* c : std::initializer_list<QWidget*>{w.cmdMacro[0], w.cmdMacro[1], w.cmdMacro[2], w.Command1,
                                                      w.cmbErase, w.cmbWrite, w.cmbEnd, w.Command4,
                                                      w.Command7, w.Command6, w.Command5, w.Frame2, w.Text3})
        c->show();
}

// What the radio must have received for one press, in order.
QList<Kind> messagesOf(const QString& pressed) {
    QList<Kind> kinds;
    if (pressed == QLatin1String("cmdStart"))
        kinds << Kind::Identify << Kind::Connect << Kind::BE;
    if (pressed == QLatin1String("Command11"))
        kinds << Kind::Connect;
    if (pressed == QLatin1String("Command8"))
        kinds << Kind::BE;
    if (pressed == QLatin1String("cmdStart") || pressed == QLatin1String("Command9"))
        kinds << QList<Kind>(DataChunks, Kind::PG);
    if (pressed == QLatin1String("cmdStart") || pressed == QLatin1String("Command10"))
        kinds << Kind::ED;
    return kinds;
}

QString passText(const QString& pressed) {
    if (pressed == QLatin1String("cmdStart"))
        return QStringLiteral("Completed.");
    if (pressed == QLatin1String("Command11"))
        return QStringLiteral("Connected.");
    if (pressed == QLatin1String("Command8"))
        return QStringLiteral("Erased.");
    if (pressed == QLatin1String("Command9"))
        return QStringLiteral("Write OK.");
    return QStringLiteral("Disconnected.");
}

QList<Kind> kindsReceived(const sim::RadioModel& radio) {
    QList<Kind> kinds;
    for (const sim::ReceivedMessage& m : radio.messages())
        kinds.append(m.kind);
    return kinds;
}

QList<int> portsOpened(const sim::SimulatedPort& port) {
    QList<int> numbers;
    for (const sim::PortEvent& e : port.events())
        if (e.type == sim::PortEvent::Type::Open)
            numbers.append(e.portNumber);
    return numbers;
}

// Drags `path` onto the drop target and drops it there; true when the target
// took the drop.
bool dropFile(QWidget* target, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted() || drop.isAccepted();
}

} // namespace

class ReentrancyTest : public QObject {
    Q_OBJECT

private slots:
    void clickDuringAWait_data() {
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<int>("atMs");

        // During Start: identify waits at 1 ms, the write runs from about 0.2 s
        // to 47 s.
        for (const char* clicked :
             {"Command9", "Command11", "Command8", "Command10", "cmdStart", "cmdMacro(2)", "cmdMacro(0)",
              "cmdMacro(1)", "Command2", "Command1", "cmbWrite", "Command4", "Command6", "cmdCheckSum"}) {
            QTest::addRow("start, identify: %s", clicked) << "cmdStart" << clicked << 1;
            QTest::addRow("start, write: %s", clicked) << "cmdStart" << clicked << 10000;
        }
        // The write button stays enabled while it runs: the hourglass is its only
        // sign of work.
        for (const char* clicked : {"Command9", "cmdStart", "Command8", "Command10", "cmdMacro(2)"})
            QTest::addRow("write button: %s", clicked) << "Command9" << clicked << 10000;
        QTest::newRow("connect button: Command9") << "Command11"
                                                  << "Command9" << 1;
        QTest::newRow("erase button: Command9") << "Command8"
                                                << "Command9" << 1;
        QTest::newRow("end button: cmdStart") << "Command10"
                                              << "cmdStart" << 1;
    }

    void clickDuringAWait() {
        QFETCH(QString, pressed);
        QFETCH(QString, clicked);
        QFETCH(int, atMs);

        WindowFixture f(pacedRadio());
        showEverything(*f.window);
        auto* pressedButton = f.window->findChild<QPushButton*>(pressed);
        auto* clickedButton = f.window->findChild<QPushButton*>(clicked);
        QVERIFY(pressedButton && clickedButton);

        bool clickedDuringOperation = false;
        f.sim.clock().at(atMs, [&] {
            clickedDuringOperation = f.window->operationRunning() && f.port->isOpen();
            clickedButton->click();
        });
        pressedButton->click();

        QVERIFY(clickedDuringOperation);
        QCOMPARE(f.texts(), QStringList{passText(pressed)});
        QCOMPARE(kindsReceived(f.radio()), messagesOf(pressed));
        // One open per procedure, all on COM1: no second procedure took the port.
        const int procedures = pressed == QLatin1String("cmdStart") ? 5 : 1;
        QCOMPARE(portsOpened(*f.port), QList<int>(procedures, 1));
        QCOMPARE(f.radio().badCheckBytes(), 0);
        QVERIFY(!f.window->operationRunning());
        QVERIFY(!f.port->isOpen());
        QVERIFY(!f.window->hourglass());
        QVERIFY(clickedButton->isEnabled());
        QVERIFY(pressedButton->isEnabled());
    }

    // A drop during the write is refused: the image being sent stays as it is.
    void dropDuringTheWriteIsRefused() {
        const QString file = QStringLiteral(RQV5_SOURCE_DIR "/tests/image_file/fixtures/small.mot");
        QVERIFY(QFile::exists(file));
        WindowFixture f(pacedRadio());
        showEverything(*f.window);
        const MemoryImage before = f.window->image;
        const QString textBefore = f.window->Text3->text();

        bool taken = true;
        bool unchangedDuring = false;
        f.sim.clock().at(10000, [&] {
            taken = dropFile(f.window->Text3, file);
            unchangedDuring = f.window->image == before && f.window->Text3->text() == textBefore;
        });
        f.window->cmdStart->click();

        QVERIFY(!taken);
        QVERIFY(unchangedDuring);
        QCOMPARE(f.texts(), QStringList{"Completed."});
        QVERIFY(f.window->image == before);
        QCOMPARE(f.radio().count(Kind::PG), DataChunks);
        for (std::uint32_t a = 0xC0000; a < 0xFF000; ++a)
            if (f.radio().flashAt(a) != std::uint8_t(before.at(a)))
                QFAIL(qPrintable(QStringLiteral("flash at %1 differs from the image").arg(a, 0, 16)));

        // Once idle, the same drop loads: it was the running write that refused it.
        QVERIFY(dropFile(f.window->Text3, file));
        QVERIFY(!(f.window->image == before));
    }

    // The COM menu stays usable during a wait; the open port is kept, and the
    // new choice applies at the next open - here COM2, where no radio listens.
    void comMenuDuringAWait_data() {
        QTest::addColumn<int>("atMs");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("opened");
        QTest::addColumn<QList<Kind>>("received");

        QTest::newRow("during identify")
            << 1 << "Connect failed." << QList<int>{1, 2} << QList<Kind>{Kind::Identify};
        QTest::newRow("during the write")
            << 10000 << "Disconnect failed." << QList<int>{1, 1, 1, 1, 2}
            << (QList<Kind>{Kind::Identify, Kind::Connect, Kind::BE} + QList<Kind>(DataChunks, Kind::PG));
    }

    void comMenuDuringAWait() {
        QFETCH(int, atMs);
        QFETCH(QString, text);
        QFETCH(QList<int>, opened);
        QFETCH(QList<Kind>, received);

        WindowFixture f(pacedRadio(), sim::PortSetup{{1, 2}, 1, {}});
        bool menuUsable = false;
        f.sim.clock().at(atMs, [&] {
            menuUsable = f.window->operationRunning() && f.window->mnuSetting->isEnabled() &&
                         f.window->mnuPort->isEnabled() && f.window->mnuCom[2]->isEnabled();
            f.window->mnuCom[2]->trigger();
        });
        f.window->cmdStart->click();

        QVERIFY(menuUsable);
        QCOMPARE(f.window->GetCOM(), std::int16_t{2});
        QCOMPARE(f.texts(), QStringList{text});
        QCOMPARE(portsOpened(*f.port), opened);
        QCOMPARE(kindsReceived(f.radio()), received);
        QVERIFY(!f.port->isOpen());
    }
};

QTEST_MAIN(ReentrancyTest)
#include "tst_reentrancy.moc"
