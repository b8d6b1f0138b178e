// The program's own code - the window, QSerialPort, Timer1 and the blocking
// yield - against the simulated radio program over a real pseudo-terminal.
#include "app/frm_main.h"
#include "app/widgets.h"
#include "pty_simulator.h"
#include "radio_model.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace rqv5;
using namespace rqv5::test;

namespace {

// Keeps the failure paths of this suite short; the 5-second length itself is
// tested on the virtual clock.
constexpr int DeadlineMs = 1500;

struct Message {
    QString text, title;
    MessageIcon icon;
};

// The window on the program's own port and clock, with COM1 wired to `device`.
class Program {
public:
    explicit Program(const QString& device) {
        qputenv("RQV5_COM1", device.toLocal8Bit());
        WindowEnvironment env;
        env.presenter = [this](const QString& text, const QString& title, MessageIcon icon) {
            messages.append({text, title, icon});
            portOpenAtMessage = window->MSComm1().isOpen();
        };
        window = std::make_unique<frmMain>(std::move(env));
        window->Timer1->setInterval(DeadlineMs);
    }
    ~Program() { qunsetenv("RQV5_COM1"); }

    QStringList texts() const {
        QStringList t;
        for (const auto& m : messages)
            t << m.text;
        return t;
    }

    std::unique_ptr<frmMain> window;
    QList<Message> messages;
    bool portOpenAtMessage = false;
};

bool ptyAvailable() {
    return QFile::exists(QStringLiteral("/dev/ptmx"));
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!ptyAvailable())
            QSKIP("no pseudo-terminals on this machine");
    }

    void identifyAndConnect() {
        PtySimulator radio;
        QVERIFY2(radio.started(), radio.errors().constData());
        Program p(radio.device());
        QCOMPARE(p.window->link().IdentifyDevice(), ReplyOK);
        QCOMPARE(p.window->link().RxBuf, QByteArray("QZ~RQ-V5\r\r\nOK\r\n"));
        QCOMPARE(p.window->link().ConnectDevice(ModeFlash), ReplyCT);
        QCOMPARE(p.window->link().RxBuf, QByteArray("QZ~FLASH\rCT\r\n"));
        QVERIFY(!p.window->MSComm1().isOpen());
        const auto summary = radio.stop();
        QCOMPARE(summary.value("identify"), QByteArray("1"));
        QCOMPARE(summary.value("connect"), QByteArray("1"));
    }

    void regionError() {
        PtySimulator radio({"--identify-code", "RE"});
        QVERIFY(radio.started());
        Program p(radio.device());
        QCOMPARE(p.window->link().IdentifyDevice(), ReplyRE);
    }

    void silentRadioTimesOut() {
        PtySimulator radio({"--silent"});
        QVERIFY(radio.started());
        Program p(radio.device());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(p.window->link().IdentifyDevice(), ReplyUnknown);
        QVERIFY(clock.elapsed() >= DeadlineMs - 50);
        QVERIFY(!p.window->MSComm1().isOpen());
        QVERIFY(!p.window->timer1Running());
    }

    void missingPortFailsAtOnce() {
        Program p(QStringLiteral("/dev/rqv5-no-such-port"));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(p.window->link().IdentifyDevice(), ReplyUnknown);
        QVERIFY(clock.elapsed() < DeadlineMs);
        QVERIFY(!p.window->MSComm1().isOpen());
        p.window->cmdStart->click();
        QCOMPARE(p.texts(), QStringList{"Error"});
    }

    void fullUpdate_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<int>("packets");
        QTest::newRow("boot block kept") << QString() << 250;
        QTest::newRow("access code") << QStringLiteral("TORVANE") << 253;
    }

    void fullUpdate() {
        QFETCH(QString, pin);
        QFETCH(int, packets);
        PtySimulator radio;
        QVERIFY(radio.started());
        Program p(radio.device());
        p.window->txtPinNumber->setText(pin);

        p.window->cmdStart->click();

        QCOMPARE(p.texts(), QStringList{"Completed."});
        QCOMPARE(p.messages[0].title, QStringLiteral("OK"));
        QCOMPARE(p.window->Text1->text(), QStringLiteral("Completed."));
        QVERIFY(!p.window->MSComm1().isOpen());
        QVERIFY(p.window->bar->isHidden());

        const auto summary = radio.stop();
        QCOMPARE(summary.value("bad_check_bytes"), QByteArray("0"));
        QCOMPARE(summary.value("unerased_writes"), QByteArray("0"));
        QCOMPARE(summary.value("pg").toInt(), packets);
        QCOMPARE(summary.value("be"), QByteArray("1"));
        QCOMPARE(summary.value("ed"), QByteArray("1"));

        // Below the boot block the radio now holds the image, erased where the
        // image has no data; the boot block is written only with the access code.
        const QByteArray flash = radio.flash();
        QCOMPARE(flash.size(), 0x40000);
        const QByteArray before = sim::RadioModel::initialFlash();
        const bool boot = !pin.isEmpty();
        for (std::uint32_t a = 0xC0000; a <= 0xFFFFF; ++a) {
            const int expected =
                a < 0xFF000 || boot ? p.window->image.at(a) : std::uint8_t(before[a - 0xC0000]);
            if (std::uint8_t(flash[a - 0xC0000]) != expected)
                QFAIL(qPrintable(QStringLiteral("flash at %1: %2, expected %3")
                                     .arg(a, 0, 16)
                                     .arg(std::uint8_t(flash[a - 0xC0000]))
                                     .arg(expected)));
        }
    }

    void failures_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("text");
        QTest::newRow("no radio") << QStringList{"--silent"} << "Error";
        QTest::newRow("region") << QStringList{"--identify-code", "RE"} << "Region error";
        QTest::newRow("hang-up during the write")
            << QStringList{"--hang-up-after", "pg:20"} << "Write failed.";
    }

    void failures() {
        QFETCH(QStringList, options);
        QFETCH(QString, text);
        PtySimulator radio(options);
        QVERIFY(radio.started());
        Program p(radio.device());
        p.window->cmdStart->click();
        QCOMPARE(p.texts(), QStringList{text});
        QCOMPARE(p.messages[0].title, QStringLiteral("NG"));
        QCOMPARE(p.messages[0].icon, MessageIcon::Warning);
        QVERIFY(!p.portOpenAtMessage);
        QVERIFY(!p.window->MSComm1().isOpen());
        QVERIFY(p.window->cmdStart->isEnabled());
        const auto summary = radio.stop();
        if (text == QLatin1String("Write failed.")) {
            QCOMPARE(summary.value("hung_up"), QByteArray("1"));
            QCOMPARE(summary.value("pg"), QByteArray("20"));
            QCOMPARE(summary.value("ed"), QByteArray("0"));
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_e2e_update.moc"
