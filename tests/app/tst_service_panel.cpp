// The service panel: the reveal by double-clicks on the progress box and the
// place the panel gets, the four step buttons against the in-process radio, the
// check sum of an address range, and the Start caption under the access code.
#include "window_fixture.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMap>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <vector>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

Q_DECLARE_METATYPE(rqv5::sim::RadioOptions)

namespace {

sim::RadioOptions paced(const std::function<void(sim::RadioOptions&)>& change = {}) {
    sim::RadioOptions options;
    // A paced line keeps each step waiting long enough to be looked at mid-way.
    options.pacing.baud = 57600;
    if (change)
        change(options);
    return options;
}

// A double-click as the mouse delivers it, through the box's own event handling.
void doubleClick(QWidget* w) {
    const QPointF at = QRectF(w->rect()).center();
    QMouseEvent event(QEvent::MouseButtonDblClick, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

QList<QWidget*> panel(const frmMain& w) {
    return {w.Command11, w.Command8, w.Command9, w.Command10, w.cmdCheckSum, w.txtCsStt, w.txtCsStp};
}

// Everything the window shows about itself: its size, and the place and
// visibility of every named control in the client area.
struct Look {
    QSize window, minimum, maximum, client;
    QMap<QString, QPair<QRect, bool>> controls;
    friend bool operator==(const Look&, const Look&) = default;
};

Look lookOf(frmMain& w) {
    Look look{w.size(), w.minimumSize(), w.maximumSize(), w.client->size(), {}};
    for (QWidget* c : w.client->findChildren<QWidget*>())
        if (!c->objectName().isEmpty())
            look.controls.insert(c->objectName(), {c->geometry(), c->isVisibleTo(w.client)});
    return look;
}

void showWindow(frmMain& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

// The byte at every flash address, read from an S-record file by a reader of its
// own: the expected sums must not come from the loader under test.
std::vector<int> flashFromSRecordFile(const QString& path) {
    std::vector<int> flash(0x40000, 0xFF);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const int type = line.size() > 1 ? line[1] - '0' : 0;
        if (line.isEmpty() || line[0] != 'S' || type < 1 || type > 3)
            continue;
        const QByteArray bytes = QByteArray::fromHex(line.mid(2));
        const int addressBytes = type + 1;
        std::uint32_t address = 0;
        for (int i = 1; i <= addressBytes; ++i)
            address = address << 8 | std::uint8_t(bytes[i]);
        // Count, address, data, checksum.
        for (int i = 1 + addressBytes; i < bytes.size() - 1; ++i, ++address)
            flash.at(address - 0xC0000) = std::uint8_t(bytes[i]);
    }
    return flash;
}

} // namespace

class ServicePanelTest : public QObject {
    Q_OBJECT

private slots:
    // --- The reveal -------------------------------------------------------------

    void reveal_data() {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("points"); // of the desktop's font; 0 keeps this machine's
        QTest::newRow("below the count") << frmMain::RevealCount - 1 << 0;
        QTest::newRow("at the count") << frmMain::RevealCount << 0;
        QTest::newRow("after it") << frmMain::RevealCount + 7 << 0;
        // Far past the largest 16-bit count: the counter must not wrap round.
        QTest::newRow("past 32767") << 32770 << 0;
        QTest::newRow("large desktop font") << frmMain::RevealCount << 16;
    }

    void reveal() {
        QFETCH(int, clicks);
        QFETCH(int, points);
        const QFont desktopFont = QApplication::font();
        const auto restoreFont = qScopeGuard([&] { QApplication::setFont(desktopFont); });
        if (points > 0) {
            QFont larger = desktopFont;
            larger.setPointSize(points);
            QApplication::setFont(larger);
        }
        WindowFixture f;
        frmMain& w = *f.window;
        showWindow(w);
        const Look before = lookOf(w);

        for (int i = 0; i < clicks; ++i)
            doubleClick(w.Text1);

        // The window takes its new size when the event loop lays it out again.
        QCoreApplication::processEvents();
        QCOMPARE(int(w.hiddenActivateCounter), std::min(clicks, int(frmMain::RevealCount)));
        if (clicks < frmMain::RevealCount) {
            QCOMPARE(lookOf(w), before);
            return;
        }

        // The window has grown and is fixed at its new size.
        QVERIFY(w.client->height() > before.client.height());
        if (points == 0)
            QCOMPARE(w.client->width(), before.client.width());
        else
            QVERIFY(w.client->width() >= before.client.width());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(w.size(), w.minimumSize());
        QVERIFY(w.rect().contains(w.client->geometry()));

        // Everything the user sees, the progress bar of a running update
        // included, lies inside the client area and covers nothing else.
        QList<QWidget*> shown = panel(w);
        shown << static_cast<QWidget*>(w.Label1) << w.cmdStart << w.bar;
        for (QWidget* c : panel(w))
            QVERIFY2(c->isVisible(), qPrintable(c->objectName()));
        for (QWidget* c : shown) {
            QVERIFY2(w.client->rect().contains(c->geometry()), qPrintable(c->objectName()));
            for (QWidget* other : shown)
                if (other != c)
                    QVERIFY2(!c->geometry().intersects(other->geometry()),
                             qPrintable(c->objectName() + " overlaps " + other->objectName()));
        }

        // Captions and addresses are not cut off.
        for (QWidget* c : panel(w)) {
            const auto* b = qobject_cast<QPushButton*>(c);
            const auto* e = qobject_cast<QLineEdit*>(c);
            const QString text = b ? b->text() : e->text();
            QVERIFY2(c->fontMetrics().horizontalAdvance(text) + 8 <= c->width(), qPrintable(c->objectName()));
            QVERIFY2(c->fontMetrics().height() + 4 <= c->height(), qPrintable(c->objectName()));
        }

        // More double-clicks change nothing.
        const Look revealed = lookOf(w);
        doubleClick(w.Text1);
        QCOMPARE(lookOf(w), revealed);
        QCOMPARE(int(w.hiddenActivateCounter), int(frmMain::RevealCount));
    }

    // --- The step buttons ---------------------------------------------------------

    void stepButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<sim::RadioOptions>("options");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("sent");

        const auto row = [](const char* name, const char* button, const sim::RadioOptions& options,
                            const char* text, bool passes, Kind kind, int sent) {
            QTest::newRow(name) << QString::fromLatin1(button) << options << QString::fromLatin1(text)
                                << passes << int(kind) << sent;
        };
        row("connect answered CT", "Command11", paced(), "Connected.", true, Kind::Connect, 1);
        row("connect answered OK", "Command11", paced([](auto& o) { o.connectCode = "OK"; }),
            "Connect failed.", false, Kind::Connect, 1);
        row("connect unanswered", "Command11", paced([](auto& o) { o.silent = true; }), "Connect failed.",
            false, Kind::Connect, 1);
        row("erase answered BE", "Command8", paced(), "Erased.", true, Kind::BE, 1);
        row("erase answered OK", "Command8", paced([](auto& o) { o.faultsFor(Kind::BE).okInstead = true; }),
            "Erase failed.", false, Kind::BE, 1);
        row("write accepted", "Command9", paced(), "Write OK.", true, Kind::PG, 250);
        row("write refused", "Command9", paced([](auto& o) { o.faultsFor(Kind::PG).ngFirst = 10; }),
            "Write failed.", false, Kind::PG, 10);
        row("end answered ED", "Command10", paced(), "Disconnected.", true, Kind::ED, 1);
        row("end answered OK", "Command10", paced([](auto& o) { o.faultsFor(Kind::ED).okInstead = true; }),
            "Disconnect failed.", false, Kind::ED, 1);
    }

    void stepButtons() {
        QFETCH(QString, button);
        QFETCH(sim::RadioOptions, options);
        QFETCH(QString, text);
        QFETCH(bool, passes);
        QFETCH(int, kind);
        QFETCH(int, sent);

        WindowFixture f(options);
        frmMain& w = *f.window;
        for (int i = 0; i < frmMain::RevealCount; ++i)
            w.Text1_DblClick();
        auto* pressed = w.findChild<QPushButton*>(button);
        const bool isWrite = pressed == w.Command9;

        bool looked = false, enabledDuring = false, hourglassDuring = false;
        f.sim.clock().at(1, [&] {
            looked = true;
            enabledDuring = pressed->isEnabled();
            hourglassDuring = w.hourglass() && w.cursor().shape() == Qt::WaitCursor;
        });
        pressed->click();

        QVERIFY(looked);
        // Write stays enabled and shows the hourglass; the others are disabled.
        QCOMPARE(enabledDuring, isWrite);
        QCOMPARE(hourglassDuring, isWrite);

        QCOMPARE(f.messages.size(), 1);
        const RecordedMessage& m = f.messages[0];
        QCOMPARE(m.text, text);
        QCOMPARE(m.title, passes ? QStringLiteral("OK") : QStringLiteral("NG"));
        QCOMPARE(int(m.icon), int(passes ? MessageIcon::None : MessageIcon::Warning));
        // The write's hourglass lasts until its box is closed.
        QCOMPARE(m.hourglass, isWrite);
        QVERIFY(!m.barVisible);

        // One step only: no identify, nothing but the step's own messages.
        QCOMPARE(f.radio().count(Kind(kind)), sent);
        QCOMPARE(f.radio().messageCount(), sent);

        for (QWidget* c : panel(w))
            QVERIFY(c->isEnabled());
        QVERIFY(!w.hourglass());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!f.port->isOpen());
        QVERIFY(!w.timer1Running());
        QVERIFY(!w.operationRunning());
    }

    void clicksDuringTheWriteSendNothing() {
        // Write stays enabled while it runs; a second press of it, or of another
        // step or Start, must not start a second exchange on the same port.
        WindowFixture f(paced());
        frmMain& w = *f.window;
        for (int i = 0; i < frmMain::RevealCount; ++i)
            w.Text1_DblClick();
        f.sim.clock().at(1000, [&] {
            for (QPushButton* b :
                 {w.Command9, w.Command11, w.Command8, w.Command10, w.cmdStart, w.cmdCheckSum})
                b->click();
        });
        w.Command9->click();

        QCOMPARE(f.texts(), QStringList{"Write OK."});
        QCOMPARE(f.radio().count(Kind::PG), 250);
        QCOMPARE(f.radio().messageCount(), 250);
        QCOMPARE(f.radio().badCheckBytes(), 0);
    }

    // --- The check sum --------------------------------------------------------------

    void checkSum_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("text");

        const QString outside = QStringLiteral("The check sum range is outside 0xC0000..0xFFFFF.");
        QTest::newRow("one erased cell") << "D1234"
                                         << "D1234"
                                         << "FF";
        QTest::newRow("start above stop") << "FFFFF"
                                          << "E0000"
                                          << "0";
        QTest::newRow("default range") << "E0000"
                                       << "FFFFF"
                                       << "1FE0000";
        QTest::newRow("whole image") << "C0000"
                                     << "FFFFF"
                                     << "3FC0000";
        QTest::newRow("lower case, blanks, trailing text") << " e 0000 "
                                                           << "fffff h"
                                                           << "1FE0000";
        QTest::newRow("start below the image") << "BFFFF"
                                               << "C0000" << outside;
        QTest::newRow("stop above the image") << "FFFFF"
                                              << "100000" << outside;
        QTest::newRow("start without a digit") << "xE0000"
                                               << "FFFFF" << outside;
        QTest::newRow("empty stop") << "C0000"
                                    << "" << outside;
        QTest::newRow("more digits than 64 bits") << "C0000"
                                                  << "1000000000000000C0000" << outside;
    }

    void checkSum() {
        QFETCH(QString, start);
        QFETCH(QString, stop);
        QFETCH(QString, text);

        WindowFixture f;
        frmMain& w = *f.window;
        w.image.ClearImage();
        const MemoryImage before = w.image;
        for (int i = 0; i < frmMain::RevealCount; ++i)
            w.Text1_DblClick();
        w.txtCsStt->setText(start);
        w.txtCsStp->setText(stop);
        w.cmdCheckSum->click();

        QCOMPARE(f.messages.size(), 1);
        QCOMPARE(f.messages[0].text, text);
        const bool refused = text.startsWith(QLatin1String("The check sum range"));
        QCOMPARE(f.messages[0].title, refused ? QStringLiteral("NG") : QStringLiteral("CHECK SUM"));
        QCOMPARE(int(f.messages[0].icon), int(refused ? MessageIcon::Warning : MessageIcon::None));
        QVERIFY(w.image == before);
        QCOMPARE(f.radio().messageCount(), 0);
    }

    void checkSumOfTheEmbeddedImage_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::newRow("default range") << "E0000"
                                       << "FFFFF";
        QTest::newRow("whole image") << "C0000"
                                     << "FFFFF";
        QTest::newRow("first cell") << "C0000"
                                    << "C0000";
        QTest::newRow("last cell") << "FFFFF"
                                   << "FFFFF";
        QTest::newRow("across a row") << "C000A"
                                      << "C0013";
    }

    void checkSumOfTheEmbeddedImage() {
        QFETCH(QString, start);
        QFETCH(QString, stop);

        const std::vector<int> flash =
            flashFromSRecordFile(QStringLiteral(RQV5_SOURCE_DIR "/image/firmware/rqv5.mot"));
        QCOMPARE(flash.size(), std::size_t(0x40000));
        std::int64_t sum = 0;
        for (std::uint32_t a = start.toUInt(nullptr, 16); a <= stop.toUInt(nullptr, 16); ++a)
            sum += flash[a - 0xC0000];

        WindowFixture f;
        f.window->txtCsStt->setText(start);
        f.window->txtCsStp->setText(stop);
        f.window->cmdCheckSum_Click();
        QCOMPARE(f.texts(), QStringList{QString::number(sum, 16).toUpper()});
        QCOMPARE(f.messages[0].title, QStringLiteral("CHECK SUM"));
    }

    void defaultRangeIsTheUpperHalf() {
        WindowFixture f;
        QCOMPARE(f.window->txtCsStt->text(), QStringLiteral("E0000"));
        QCOMPARE(f.window->txtCsStp->text(), QStringLiteral("FFFFF"));
    }

    // --- The Start caption ------------------------------------------------------------

    void caption_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("caption");
        const QString code = QString(QChar(0x4E59)) + QChar(0x03C0); // 乙π
        QTest::newRow("access code") << QStringList{"TORVANE"} << code;
        QTest::newRow("lower case") << QStringList{"torvane"} << "Tavix";
        QTest::newRow("trailing blank") << QStringList{"TORVANE "} << "Tavix";
        QTest::newRow("leading blank") << QStringList{" TORVANE"} << "Tavix";
        QTest::newRow("shorter") << QStringList{"TORVAN"} << "Tavix";
        QTest::newRow("a pin number") << QStringList{"12"} << "Tavix";
        QTest::newRow("emptied again") << QStringList{"TORVANE", ""} << "Tavix";
        QTest::newRow("typed letter by letter")
            << QStringList{"T", "TO", "TOR", "TORV", "TORVA", "TORVAN", "TORVANE"} << code;
    }

    void caption() {
        QFETCH(QStringList, typed);
        QFETCH(QString, caption);
        WindowFixture f;
        for (const QString& t : typed)
            f.window->txtPinNumber->setText(t);
        QCOMPARE(f.window->cmdStart->text(), caption);
        QVERIFY(f.messages.isEmpty());
    }
};

QTEST_MAIN(ServicePanelTest)
#include "tst_service_panel.moc"
