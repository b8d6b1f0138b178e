// The Start button against the in-process radio: one message per press, the
// exact text, title and icon of every outcome, the progress bar and the steps
// that must not run after a failure.
#include "window_fixture.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

sim::RadioOptions withFaults(const std::function<void(sim::RadioOptions&)>& change) {
    sim::RadioOptions options;
    change(options);
    return options;
}

} // namespace

class UpdateSequenceTest : public QObject {
    Q_OBJECT

private slots:
    void messageTable_data() {
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        // Packets of each kind the radio must have seen: BE, PG, ED.
        QTest::addColumn<QList<int>>("packets");
        QTest::addColumn<int>("connects");

        const int warning = int(MessageIcon::Warning);
        QTest::newRow("success") << sim::RadioOptions{} << "Completed."
                                 << "OK" << int(MessageIcon::None) << QList<int>{1, 250, 1} << 1;
        QTest::newRow("region error") << withFaults([](auto& o) { o.identifyCode = "RE"; }) << "Region error"
                                      << "NG" << warning << QList<int>{0, 0, 0} << 0;
        QTest::newRow("no radio") << withFaults([](auto& o) { o.silent = true; }) << "Error"
                                  << "NG" << warning << QList<int>{0, 0, 0} << 0;
        QTest::newRow("identify NG") << withFaults([](auto& o) { o.identifyCode = "NG"; }) << "Error"
                                     << "NG" << warning << QList<int>{0, 0, 0} << 0;
        QTest::newRow("connect answered OK")
            << withFaults([](auto& o) { o.connectCode = "OK"; }) << "Connect failed."
            << "NG" << warning << QList<int>{0, 0, 0} << 1;
        QTest::newRow("erase answered OK")
            << withFaults([](auto& o) { o.faultsFor(Kind::BE).okInstead = true; }) << "Erase failed."
            << "NG" << warning << QList<int>{1, 0, 0} << 1;
        QTest::newRow("write refused")
            << withFaults([](auto& o) { o.faultsFor(Kind::PG).ngFirst = 10; }) << "Write failed."
            << "NG" << warning << QList<int>{1, 10, 0} << 1;
        QTest::newRow("end answered OK")
            << withFaults([](auto& o) { o.faultsFor(Kind::ED).okInstead = true; }) << "Disconnect failed."
            << "NG" << warning << QList<int>{1, 250, 1} << 1;
        QTest::newRow("chunk accepted at its tenth try")
            << withFaults([](auto& o) { o.faultsFor(Kind::PG).ngFirst = 9; }) << "Completed."
            << "OK" << int(MessageIcon::None) << QList<int>{1, 259, 1} << 1;
    }

    void messageTable() {
        QFETCH(sim::RadioOptions, options);
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QFETCH(QList<int>, packets);
        QFETCH(int, connects);

        WindowFixture f(options);
        f.window->cmdStart->click();

        QCOMPARE(f.messages.size(), 1);
        QCOMPARE(f.messages[0].text, text);
        QCOMPARE(f.messages[0].title, title);
        QCOMPARE(int(f.messages[0].icon), icon);
        // The bar shows while the box is open; after it is closed, idle again.
        QVERIFY(f.messages[0].barVisible);
        QVERIFY(f.window->bar->isHidden());
        QVERIFY(f.window->cmdStart->isEnabled());
        QVERIFY(f.window->cmdMacro[2]->isEnabled());
        QVERIFY(!f.port->isOpen());
        QVERIFY(!f.window->timer1Running());

        QCOMPARE(f.radio().count(Kind::Identify), 1);
        QCOMPARE(f.radio().count(Kind::Connect), connects);
        QCOMPARE(
            (QList<int>{f.radio().count(Kind::BE), f.radio().count(Kind::PG), f.radio().count(Kind::ED)}),
            packets);
        QCOMPARE(f.radio().badCheckBytes(), 0);
        if (text == QLatin1String("Completed."))
            QCOMPARE(f.window->Text1->text(), QStringLiteral("Completed."));
        else
            QVERIFY(f.window->Text1->text() != QLatin1String("Completed."));
    }

    void successWritesTheImage() {
        WindowFixture f;
        f.window->cmdStart_Click();
        QCOMPARE(f.texts(), QStringList{"Completed."});

        // Every chunk with data holds the image; erased blocks outside the data
        // read 0xFF; the boot block, without the access code, is untouched.
        const QByteArray initial = sim::RadioModel::initialFlash();
        for (int row = 0xC000; row <= 0xFEFF; ++row)
            for (int c = 0; c < 16; ++c) {
                const std::uint32_t address = row * 16 + c;
                const int expected = f.window->image.ImageData(row, c);
                if (f.radio().flashAt(address) != expected)
                    QFAIL(qPrintable(QStringLiteral("flash at %1 is %2, image %3")
                                         .arg(address, 0, 16)
                                         .arg(f.radio().flashAt(address))
                                         .arg(expected)));
            }
        for (std::uint32_t a = 0xFF000; a <= 0xFFFFF; ++a)
            QCOMPARE(f.radio().flashAt(a), std::uint8_t(initial[int(a - 0xC0000)]));
        QCOMPARE(f.radio().unerasedWrites(), 0);
        // The last chunk looked at is the last one below the boot block.
        QCOMPARE(f.window->bar->value(), 0xFEC0);
    }

    void accessCodeWritesTheBootBlock() {
        WindowFixture f;
        f.window->txtPinNumber->setText(QStringLiteral("TORVANE"));
        QCOMPARE(f.window->cmdStart->text(), QStringLiteral("乙π"));
        f.window->cmdStart_Click();
        QCOMPARE(f.texts(), QStringList{"Completed."});
        QCOMPARE(f.radio().count(Kind::PG), 253);
        for (std::uint32_t a = 0xC0000; a <= 0xFFFFF; ++a)
            QCOMPARE(int(f.radio().flashAt(a)), int(f.window->image.at(a)));
        QCOMPARE(f.window->bar->value(), 0xFFC0);
    }

    void everyPressStartsTheBarAtItsMinimum() {
        WindowFixture f(withFaults([](auto& o) {
            o.faultsFor(Kind::ED).okInstead = true;
            o.pacing.baud = 57600;
        }));
        f.window->bar->setValue(0xF000);
        int barAtIdentify = -1;
        f.sim.clock().at(1, [&] { barAtIdentify = f.window->bar->value(); });
        f.window->cmdStart_Click();
        QCOMPARE(barAtIdentify, 0xC000);
        QCOMPARE(f.texts(), QStringList{"Disconnect failed."});
        // A failed run keeps the write's last progress text.
        QCOMPARE(f.window->Text1->text(), QStringLiteral("FEC00"));
    }

    void startIsDisabledWhileRunning() {
        WindowFixture f(withFaults([](auto& o) { o.pacing.baud = 57600; }));
        bool startEnabled = true, macroEnabled = true;
        f.sim.clock().at(2000, [&] {
            startEnabled = f.window->cmdStart->isEnabled();
            macroEnabled = f.window->cmdMacro[2]->isEnabled();
        });
        f.window->cmdStart_Click();
        QVERIFY(!startEnabled);
        QVERIFY(!macroEnabled);
    }

    void comChoiceAppliesAtTheNextOpen() {
        // The radio sits on COM1, paced at 57600 baud so that identify takes a
        // few milliseconds. Choosing COM2 while identify waits leaves identify on
        // its open port; connect then opens COM2, which does not exist.
        WindowFixture f(withFaults([](auto& o) { o.pacing.baud = 57600; }));
        f.sim.clock().at(1, [&] { f.window->mnuCom[2]->trigger(); });
        f.window->cmdStart_Click();
        QCOMPARE(f.radio().count(Kind::Identify), 1);
        QCOMPARE(f.radio().count(Kind::Connect), 0);
        QCOMPARE(f.texts(), QStringList{"Connect failed."});
        QCOMPARE(f.window->GetCOM(), std::int16_t{2});
    }
};

QTEST_MAIN(UpdateSequenceTest)
#include "tst_update_sequence.moc"
