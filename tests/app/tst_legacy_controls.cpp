// The hidden controls of the two row-by-row modes and the port-pin panel, run
// through the window against the in-process radio: the exact text, title and
// icon of every message, one message per press, the button disabled or the
// hourglass shown while it runs, the steps a failed sequence must not send,
// and what the GO button shows in its result box.
#include "window_fixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

const QByteArray eraseHead = QByteArray::fromHex("01010d0a");
const QByteArray endHead = QByteArray::fromHex("00000d0a");

sim::RadioOptions radioWith(const std::function<void(sim::RadioOptions&)>& change) {
    sim::RadioOptions options;
    options.legacyConnectCode = "OK";
    change(options);
    return options;
}
const sim::RadioOptions connecting = radioWith([](auto&) {});

// An image whose only data lies in the boot block, which these modes never
// write: the only image a legacy write can pass.
void keepOnlyTheBootBlock(MemoryImage& image) {
    image.ClearImage();
    image.ImageData(0xFF00, 0) = 0x12;
    image.RowHasData(0xFF00) = MemoryImage::True;
}

// The heads (bytes 0..3) of the legacy frames written to the port, in order.
QByteArrayList frameHeads(const sim::SimulatedPort& port) {
    QByteArrayList heads;
    for (const sim::PortEvent& w : port.writes())
        if (w.bytes.size() == 20 || (w.bytes.size() == 23 && w.bytes.startsWith("CL~")))
            heads << w.bytes.right(20).left(4);
    return heads;
}

enum Image { Embedded, BootBlockOnly };

} // namespace

class LegacyControlsTest : public QObject {
    Q_OBJECT

private slots:
    void stepButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("connectMode"); // connected in this mode before the press; -1: not
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("image");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArrayList>("frames"); // heads of the frames written by the press

        const QByteArrayList none;
        // Connect: only 0 passes, so the radio's usual "CT" is a failure.
        QTest::newRow("Command1 OK") << "Command1" << -1 << connecting << int(Embedded) << "Connected."
                                     << none;
        QTest::newRow("Command1 CT") << "Command1" << -1 << sim::RadioOptions{} << int(Embedded)
                                     << "Connect failed." << none;
        QTest::newRow("Command4 OK") << "Command4" << -1 << connecting << int(Embedded) << "Connected."
                                     << none;
        QTest::newRow("Command4 no radio") << "Command4" << -1 << radioWith([](auto& o) { o.silent = true; })
                                           << int(Embedded) << "Connect failed." << none;
        // Erase: ED and BE end the tries but fail the step.
        QTest::newRow("cmbErase OK") << "cmbErase" << 0 << connecting << int(Embedded) << "Erased."
                                     << QByteArrayList{eraseHead};
        QTest::newRow("cmbErase BE") << "cmbErase" << 0
                                     << radioWith([](auto& o) { o.legacyEraseCode = "BE"; }) << int(Embedded)
                                     << "Erase failed." << QByteArrayList{eraseHead};
        QTest::newRow("Command7 OK") << "Command7" << 1 << connecting << int(Embedded) << "Erased."
                                     << QByteArrayList{eraseHead};
        QTest::newRow("Command7 ED") << "Command7" << 1
                                     << radioWith([](auto& o) { o.legacyEraseCode = "ED"; }) << int(Embedded)
                                     << "Erase failed." << QByteArrayList{eraseHead};
        QTest::newRow("Command7 NG") << "Command7" << 1
                                     << radioWith([](auto& o) { o.legacyEraseCode = "NG"; }) << int(Embedded)
                                     << "Erase failed." << QByteArrayList(10, eraseHead);
        // Write: the embedded image stops at its first row before sending a byte.
        QTest::newRow("cmbWrite embedded image")
            << "cmbWrite" << 0 << connecting << int(Embedded) << "Write failed." << none;
        QTest::newRow("cmbWrite boot block only")
            << "cmbWrite" << 0 << connecting << int(BootBlockOnly) << "Write OK." << none;
        QTest::newRow("Command6 embedded image")
            << "Command6" << 1 << connecting << int(Embedded) << "Write failed." << none;
        QTest::newRow("Command6 boot block only")
            << "Command6" << 1 << connecting << int(BootBlockOnly) << "Write completed." << none;
        // End: cmbEnd's text has no full stop, Command5's has.
        QTest::newRow("cmbEnd OK") << "cmbEnd" << 0 << connecting << int(Embedded) << "Disconnected"
                                   << QByteArrayList{endHead};
        QTest::newRow("cmbEnd BE") << "cmbEnd" << 0 << radioWith([](auto& o) { o.legacyEndCode = "BE"; })
                                   << int(Embedded) << "Disconnect failed." << QByteArrayList{endHead};
        QTest::newRow("Command5 OK") << "Command5" << 1 << connecting << int(Embedded) << "Disconnected."
                                     << QByteArrayList{endHead};
        QTest::newRow("Command5 no answer")
            << "Command5" << 1 << radioWith([](auto& o) { o.faultsFor(Kind::Legacy).reply = QByteArray(); })
            << int(Embedded) << "Disconnect failed." << QByteArrayList(10, endHead);
    }

    void stepButtons() {
        QFETCH(QString, button);
        QFETCH(int, connectMode);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, image);
        QFETCH(QString, text);
        QFETCH(QByteArrayList, frames);

        WindowFixture f(options);
        if (image == BootBlockOnly)
            keepOnlyTheBootBlock(f.window->image);
        if (connectMode >= 0)
            QCOMPARE(f.window->link().ConnectDevice(ProtocolMode(connectMode)), ReplyOK);
        const qsizetype framesBefore = frameHeads(*f.port).size();

        auto* pressed = f.window->findChild<QPushButton*>(button);
        QVERIFY(pressed);
        const bool writeButton = button == QLatin1String("cmbWrite") || button == QLatin1String("Command6");
        bool enabledWhileOpen = false;
        f.onMessage = [&](const RecordedMessage&) { enabledWhileOpen = pressed->isEnabled(); };
        pressed->click();

        QCOMPARE(f.messages.size(), 1);
        const RecordedMessage& m = f.messages[0];
        QCOMPARE(m.text, text);
        const bool passed = !text.endsWith(QLatin1String("failed."));
        QCOMPARE(m.title, passed ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(m.icon, passed ? MessageIcon::None : MessageIcon::Warning);
        // A write shows the hourglass and stays enabled; the others are disabled.
        QCOMPARE(m.hourglass, writeButton);
        QCOMPARE(enabledWhileOpen, writeButton);
        QVERIFY(pressed->isEnabled());
        QVERIFY(!f.window->hourglass());
        QVERIFY(pressed->isHidden());

        QCOMPARE(frameHeads(*f.port).mid(framesBefore), frames);
        if (writeButton)
            QCOMPARE(f.window->Text1->text(), QString::fromLatin1(image == Embedded ? "C0000" : "FEFF0"));
        QVERIFY(!f.port->isOpen());
        QVERIFY(!f.window->timer1Running());
    }

    void sequences_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("image");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArrayList>("frames"); // heads of the frames written
        QTest::addColumn<int>("radioMode");         // where the radio is left

        using Mode = sim::RadioModel::Mode;
        const QByteArrayList none;
        const QString done = QStringLiteral("FLASH Memory writing completed.");
        QTest::newRow("E connect times out")
            << 0 << radioWith([](auto& o) { o.silent = true; }) << int(Embedded) << "Connect failed." << none
            << int(Mode::Command);
        QTest::newRow("FL connect answered CT")
            << 1 << sim::RadioOptions{} << int(Embedded) << "Connect failed." << none << int(Mode::LegacyFL);
        QTest::newRow("FL erase answered BE")
            << 1 << radioWith([](auto& o) { o.legacyEraseCode = "BE"; }) << int(Embedded) << "Erase failed."
            << QByteArrayList{eraseHead} << int(Mode::LegacyFL);
        QTest::newRow("E erase refused")
            << 0 << radioWith([](auto& o) { o.legacyEraseCode = "NG"; }) << int(Embedded) << "Erase failed."
            << QByteArrayList(10, eraseHead) << int(Mode::LegacyE);
        QTest::newRow("E embedded image") << 0 << connecting << int(Embedded) << "Write failed."
                                          << QByteArrayList{eraseHead} << int(Mode::LegacyE);
        QTest::newRow("FL embedded image") << 1 << connecting << int(Embedded) << "Write failed."
                                           << QByteArrayList{eraseHead} << int(Mode::LegacyFL);
        QTest::newRow("E complete") << 0 << connecting << int(BootBlockOnly) << done
                                    << QByteArrayList{eraseHead, endHead} << int(Mode::Command);
        QTest::newRow("FL complete") << 1 << connecting << int(BootBlockOnly) << done
                                     << QByteArrayList{eraseHead, endHead} << int(Mode::Command);
        QTest::newRow("FL end answered ED")
            << 1 << radioWith([](auto& o) { o.legacyEndCode = "ED"; }) << int(BootBlockOnly)
            << "Disconnect failed." << QByteArrayList{eraseHead, endHead} << int(Mode::LegacyFL);
    }

    void sequences() {
        QFETCH(int, mode);
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, image);
        QFETCH(QString, text);
        QFETCH(QByteArrayList, frames);
        QFETCH(int, radioMode);

        WindowFixture f(options);
        if (image == BootBlockOnly)
            keepOnlyTheBootBlock(f.window->image);
        QPushButton* pressed = f.window->cmdMacro[std::size_t(mode)];
        bool enabledWhileOpen = true;
        f.onMessage = [&](const RecordedMessage&) { enabledWhileOpen = pressed->isEnabled(); };
        pressed->click();

        QCOMPARE(f.texts(), QStringList{text});
        const bool passed = text == QLatin1String("FLASH Memory writing completed.");
        QCOMPARE(f.messages[0].title, passed ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(f.messages[0].icon, passed ? MessageIcon::None : MessageIcon::Warning);
        QVERIFY(!f.messages[0].hourglass);
        QVERIFY(!enabledWhileOpen);
        QVERIFY(pressed->isEnabled());
        QVERIFY(!f.window->hourglass());
        QVERIFY(pressed->isHidden());

        QCOMPARE(f.radio().count(Kind::Connect), 1);
        QCOMPARE(f.port->writes().first().bytes, mode == 0 ? QByteArray("QZ~E\r") : QByteArray("FL\r"));
        QCOMPARE(frameHeads(*f.port), frames);
        QCOMPARE(int(f.radio().mode()), radioMode);
        QVERIFY(!f.port->isOpen());
        QVERIFY(!f.window->timer1Running());
    }

    void connectTimeoutShowsOnlyItsMessage() {
        WindowFixture f(radioWith([](auto& o) { o.silent = true; }));
        f.window->cmdMacro[0]->click();
        QCOMPARE(f.texts(), QStringList{"Connect failed."});
        QCOMPARE(f.messages[0].atMs, std::int64_t{5000});
        QCOMPARE(f.port->written(), QByteArray("QZ~E\r"));
    }

    void nothingShowsTheLegacyControls() {
        WindowFixture f;
        for (int i = 0; i < frmMain::RevealCount; ++i)
            f.window->Text1_DblClick();
        QVERIFY(f.window->Command11->isVisibleTo(f.window.get()));
        for (QWidget* w : std::initializer_list<QWidget*>{
                 f.window->Command1, f.window->cmbErase, f.window->cmbWrite, f.window->cmbEnd,
                 f.window->Command4, f.window->Command7, f.window->Command6, f.window->Command5,
                 f.window->cmdMacro[0], f.window->cmdMacro[1], f.window->Frame2, f.window->Text2})
            QVERIFY2(w->isHidden(), qPrintable(w->objectName()));
    }

    void go_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<int>("baudOption");
        QTest::addColumn<int>("com");
        QTest::addColumn<QString>("pin");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("elapsedMs");

        const auto replying = [](const QByteArray& reply) {
            return radioWith([reply](auto& o) { o.faultsFor(Kind::Pin).reply = reply; });
        };
        const sim::RadioOptions radio;
        QTest::newRow("drive high") << radio << 2 << 1 << "07" << 1 << "OK" << 0;
        QTest::newRow("pin the radio does not have") << radio << 2 << 1 << "7A" << 3 << "NG" << 0;
        QTest::newRow("read an input, high") << radio << 2 << 1 << "07" << 3 << "H入力" << 0;
        QTest::newRow("00") << replying("\r\n00\r\n") << 2 << 1 << "07" << 3 << "L出力" << 0;
        QTest::newRow("01") << replying("\r\n01\r\n") << 2 << 1 << "07" << 3 << "H出力" << 0;
        QTest::newRow("02") << replying("\r\n02\r\n") << 2 << 1 << "07" << 3 << "L入力" << 0;
        QTest::newRow("RE") << replying("\r\nRE\r\n") << 2 << 1 << "07" << 3 << "???" << 0;
        QTest::newRow("garbage") << replying("\r\nX?\r\n") << 2 << 1 << "07" << 3 << "???" << 0;
        QTest::newRow("empty pin number") << radio << 2 << 1 << "" << 3 << "???" << 5000;
        QTest::newRow("one-character pin number") << radio << 2 << 1 << "7" << 3 << "???" << 5000;
        QTest::newRow("three-character pin number") << radio << 2 << 1 << "007" << 3 << "???" << 0;
        QTest::newRow("no radio") << radioWith([](auto& o) { o.silent = true; }) << 2 << 1 << "07" << 3
                                  << "???" << 5000;
        QTest::newRow("COM port missing") << radio << 2 << 3 << "07" << 3 << "???" << 0;
        // A radio that hears only one rate shows which one the command went at.
        QTest::newRow("57600 chosen, sent at the initial 38400")
            << radioWith([](auto& o) { o.onlyBaud = 38400; }) << 2 << 1 << "07" << 3 << "H入力" << 0;
        QTest::newRow("57600 chosen, a radio at 57600 hears nothing")
            << radioWith([](auto& o) { o.onlyBaud = 57600; }) << 2 << 1 << "07" << 3 << "???" << 5000;
        QTest::newRow("9600") << radioWith([](auto& o) { o.onlyBaud = 9600; }) << 0 << 1 << "07" << 3
                              << "H入力" << 0;
    }

    void go() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(int, baudOption);
        QFETCH(int, com);
        QFETCH(QString, pin);
        QFETCH(int, action);
        QFETCH(QString, shown);
        QFETCH(int, elapsedMs);

        WindowFixture f(options);
        f.window->optBPS[std::size_t(baudOption)]->setChecked(true);
        f.window->mnuCom_Click(com);
        f.window->txtPinNumber->setText(pin);
        f.window->port[std::size_t(action)]->setChecked(true);
        QCOMPARE(f.window->Text2->text(), QStringLiteral("Text2"));
        f.window->Command2->click();

        QCOMPARE(f.window->Text2->text(), shown);
        QVERIFY(f.messages.isEmpty());
        QCOMPARE(f.sim.clock().nowMs(), std::int64_t(elapsedMs));
        QVERIFY(f.window->Command2->isEnabled());
        QVERIFY(!f.port->isOpen());
        QVERIFY(!f.window->timer1Running());
    }

    void goIsDisabledWhileItRuns() {
        WindowFixture f(radioWith([](auto& o) { o.faultsFor(Kind::Pin).late = sim::millis(100); }));
        f.window->txtPinNumber->setText(QStringLiteral("07"));
        bool enabled = true;
        QString shownMeanwhile;
        f.sim.clock().at(50, [&] {
            enabled = f.window->Command2->isEnabled();
            shownMeanwhile = f.window->Text2->text();
        });
        f.window->Command2->click();
        QVERIFY(!enabled);
        QCOMPARE(shownMeanwhile, QStringLiteral("Text2"));
        QVERIFY(f.window->Command2->isEnabled());
        QCOMPARE(f.window->Text2->text(), QStringLiteral("H入力"));
    }
};

QTEST_MAIN(LegacyControlsTest)
#include "tst_legacy_controls.moc"
