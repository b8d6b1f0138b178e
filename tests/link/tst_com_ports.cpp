// COMn to serial device: the RQV5_COM<n> variable, the n-th port of the
// machine's list, and the order of that list.
#include "link/com_ports.h"

#include <QLocale>
#include <QTest>

using namespace rqv5;

namespace {

QList<ComPort> portsNamed(const QStringList& devices) {
    QList<ComPort> ports;
    for (const QString& device : devices)
        ports.append({device, QStringLiteral("port ") + device});
    return ports;
}

QStringList devicesOf(const QList<ComPort>& ports) {
    QStringList devices;
    for (const ComPort& p : ports)
        devices << p.device;
    return devices;
}

} // namespace

class ComPortsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        for (int n : {1, 2, 3, 17})
            qunsetenv(("RQV5_COM" + QByteArray::number(n)).constData());
        QLocale::setDefault(QLocale::system());
    }

    void resolve_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("variable"); // RQV5_COM<number>, empty: unset
        QTest::addColumn<QString>("device");      // empty: nothing

        QTest::newRow("first") << 1 << QByteArray() << "/dev/ttyUSB0";
        QTest::newRow("last") << 3 << QByteArray() << "/dev/ttyS0";
        QTest::newRow("beyond the list") << 4 << QByteArray() << "";
        QTest::newRow("16, short list") << 16 << QByteArray() << "";
        QTest::newRow("17: none checked") << 17 << QByteArray() << "";
        QTest::newRow("0") << 0 << QByteArray() << "";
        QTest::newRow("variable wins") << 2 << QByteArray("/dev/pts/4") << "/dev/pts/4";
        QTest::newRow("variable beyond the list") << 17 << QByteArray("/dev/pts/7") << "/dev/pts/7";
        QTest::newRow("empty variable") << 3 << QByteArray("") << "/dev/ttyS0";
    }

    void resolve() {
        QFETCH(int, number);
        QFETCH(QByteArray, variable);
        QFETCH(QString, device);

        const QByteArray name = "RQV5_COM" + QByteArray::number(number);
        if (!variable.isNull())
            qputenv(name.constData(), variable);
        // Another number's variable changes nothing here.
        qputenv(number == 1 ? "RQV5_COM2" : "RQV5_COM1", "/dev/pts/99");

        const auto com = resolveComPort(number, portsNamed({"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}));
        QCOMPARE(com.has_value(), !device.isEmpty());
        if (com)
            QCOMPARE(com->device, device);
    }

    void variableWinsOverTheSystemList() {
        qputenv("RQV5_COM3", "/dev/pts/4");
        const auto com = resolveComPort(3);
        QVERIFY(com);
        QCOMPARE(com->device, QStringLiteral("/dev/pts/4"));
        QVERIFY(com->description.contains("RQV5_COM3"));
    }

    void order_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("ordered");
        QTest::addColumn<QString>("locale");

        const QStringList mixed{"/dev/ttyS10",  "/dev/ttyUSB10", "/dev/ttyS2",   "/dev/ttyACM1",
                                "/dev/ttyUSB2", "/dev/ttyS0",    "/dev/ttyACM0", "/dev/rfcomm0",
                                "/dev/ttyAMA0", "/dev/ttyUSB1"};
        const QStringList ordered{"/dev/ttyACM0",  "/dev/ttyACM1", "/dev/ttyUSB1", "/dev/ttyUSB2",
                                  "/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyAMA0", "/dev/ttyS0",
                                  "/dev/ttyS2",    "/dev/ttyS10"};
        // The order must not depend on the user's locale.
        for (const char* locale : {"C", "en_US", "de_DE"})
            QTest::addRow("mixed, %s", locale) << mixed << ordered << locale;
        QTest::newRow("already ordered") << ordered << ordered << "C";
        QTest::newRow("empty") << QStringList() << QStringList() << "C";
        QTest::newRow("numbers past the ninth")
            << QStringList{"/dev/ttyUSB100", "/dev/ttyUSB20", "/dev/ttyUSB3"}
            << QStringList{"/dev/ttyUSB3", "/dev/ttyUSB20", "/dev/ttyUSB100"} << "C";
    }

    void order() {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, ordered);
        QFETCH(QString, locale);

        QLocale::setDefault(QLocale(locale));
        const QList<ComPort> result = orderComPorts(portsNamed(devices));
        QCOMPARE(devicesOf(result), ordered);
        for (const ComPort& p : result)
            QCOMPARE(p.description, QStringLiteral("port ") + p.device);
    }
};

QTEST_GUILESS_MAIN(ComPortsTest)
#include "tst_com_ports.moc"
