// The drop target: files dropped on it replace the memory image, with the
// hourglass during the load and the exact messages of a failed one; text drops
// are ignored, only the first file of a drop loads, and nothing loads while a
// procedure reads the image.
#include "window_fixture.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace rqv5;
using namespace rqv5::test;
using sim::Kind;

namespace {

// An S2 record of `data` at `address`, with its count and checksum.
QByteArray s2(std::uint32_t address, const QByteArray& data) {
    QByteArray body;
    body.append(char(data.size() + 4));
    body.append(char(address >> 16)).append(char(address >> 8)).append(char(address));
    body.append(data);
    int sum = 0;
    for (char c : body)
        sum += std::uint8_t(c);
    body.append(char(~sum));
    return "S2" + body.toHex().toUpper();
}

// Two small firmwares: one crosses a row boundary, one lands in the boot block.
const QByteArray fixtureData = QByteArray::fromHex("0102030405060708");
constexpr std::uint32_t fixtureAddress = 0xD001C;
const QByteArray otherData = QByteArray::fromHex("A5A5");
constexpr std::uint32_t otherAddress = 0xFF000;

QByteArray sRecordFile(std::uint32_t address, const QByteArray& data) {
    return "S00600004844521B\r\n" + s2(address, data) + "\r\nS804000000FB\r\n";
}

// The image a file of `data` at `address` must leave, built by hand.
MemoryImage imageOf(std::uint32_t address, const QByteArray& data) {
    MemoryImage image;
    for (int i = 0; i < data.size(); ++i) {
        const std::uint32_t a = address + std::uint32_t(i);
        image.ImageData(a / 16, a % 16) = std::uint8_t(data[i]);
        image.RowHasData(a / 16) = MemoryImage::True;
    }
    return image;
}

struct DropResult {
    bool entered = false;
    bool dropped = false;
};

// A drag that enters the box and is let go on it, as the window system delivers it.
DropResult dropOn(QWidget* target, const QMimeData& mime) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QCoreApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

std::unique_ptr<QMimeData> filesMime(const QStringList& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

// The window's pointer at every change, and whether the image had been replaced
// by then.
class PointerLog : public QObject {
public:
    explicit PointerLog(frmMain& window) : window_(window), before_(window.image) {
        window.installEventFilter(this);
    }

    struct Change {
        Qt::CursorShape shape;
        bool imageReplaced;
    };
    QList<Change> changes;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::CursorChange)
            changes.append({window_.cursor().shape(), !(window_.image == before_)});
        return false;
    }

private:
    frmMain& window_;
    const MemoryImage before_;
};

} // namespace

class FileDropTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        write("fixture.mot", sRecordFile(fixtureAddress, fixtureData));
        write("other.mot", sRecordFile(otherAddress, otherData));
        write("noextension", sRecordFile(fixtureAddress, fixtureData));
        // A blank third line.
        write("blank.s19", "S00600004844521B\n" + s2(fixtureAddress, fixtureData) + "\n\nS804000000FB\n");
        // A type-1 record that carries data: its address lies outside the image.
        write("s1data.mot", "S00600004844521B\nS1051000AABB85\n");
        // An end record, then a data record at offset 0 without an address record.
        write("nobase.hex", ":00000001FF\n:0400000001020304F2\n");
        write("linear.HEX", ":020000040000FA\n:0400000001020304F2\n");
    }

    void drop_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text"); // the message, empty when the file loads
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");

        const int warning = int(MessageIcon::Warning), error = int(MessageIcon::Error);
        QTest::newRow("S-records") << "fixture.mot" << QString() << QString() << 0;
        QTest::newRow("S-records, no extension") << "noextension" << QString() << QString() << 0;
        QTest::newRow("rejected S-record line") << "blank.s19"
                                                << "Error Code = 9 ; line number = 3"
                                                << "Error" << warning;
        QTest::newRow("rejected HEX line") << "nobase.hex"
                                           << "Error Code = 5 ; line number = 2"
                                           << "Error" << warning;
        QTest::newRow("HEX data below the image") << "linear.HEX"
                                                  << "Error Code = 5 ; line number = 2"
                                                  << "Error" << warning;
        QTest::newRow("S-record data outside the image") << "s1data.mot"
                                                         << "File Open Error"
                                                         << "ERROR" << error;
        QTest::newRow("missing file") << "missing.mot"
                                      << "File Open Error"
                                      << "ERROR" << error;
    }

    void drop() {
        QFETCH(QString, file);
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(int, icon);
        const bool loads = text.isEmpty();
        const QString path = dir_.filePath(file);

        WindowFixture f;
        frmMain& w = *f.window;
        const MemoryImage before = w.image;
        PointerLog pointer(w);

        const DropResult r = dropOn(w.Text3, *filesMime({path}));

        QVERIFY(r.entered);
        QVERIFY(r.dropped);
        QCOMPARE(w.Text3->text(), path);
        if (loads) {
            QVERIFY(f.messages.isEmpty());
            QVERIFY(w.image == imageOf(fixtureAddress, fixtureData));
        } else {
            QCOMPARE(f.messages.size(), 1);
            QCOMPARE(f.messages[0].text, text);
            QCOMPARE(f.messages[0].title, title);
            QCOMPARE(int(f.messages[0].icon), icon);
            // A failed load leaves the firmware that was there, flags included.
            QVERIFY(w.image == before);
        }

        // The hourglass is up before the image changes and down after the load,
        // and for a file that was read it stays up while the box is open.
        QVERIFY(pointer.changes.size() >= 2);
        QCOMPARE(pointer.changes.first().shape, Qt::WaitCursor);
        QVERIFY(!pointer.changes.first().imageReplaced);
        QCOMPARE(pointer.changes.last().shape, Qt::ArrowCursor);
        QCOMPARE(pointer.changes.last().imageReplaced, loads);
        if (!loads && file != QLatin1String("missing.mot"))
            QVERIFY(f.messages[0].hourglass);
        QVERIFY(!w.hourglass());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    }

    void onlyTheFirstFileLoads() {
        WindowFixture f;
        const QStringList files = {dir_.filePath("fixture.mot"), dir_.filePath("other.mot"),
                                   dir_.filePath("missing.mot")};
        const DropResult r = dropOn(f.window->Text3, *filesMime(files));
        QVERIFY(r.dropped);
        QCOMPARE(f.window->Text3->text(), files.first());
        QVERIFY(f.window->image == imageOf(fixtureAddress, fixtureData));
        QVERIFY(f.messages.isEmpty());
    }

    void dropsWithoutFilesAreIgnored_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("plain text") << "text";
        QTest::newRow("text naming a file") << "path";
        QTest::newRow("remote address") << "remote";
        QTest::newRow("empty drop") << "empty";
    }

    void dropsWithoutFilesAreIgnored() {
        QFETCH(QString, kind);
        QMimeData mime;
        if (kind == QLatin1String("text"))
            mime.setText(QStringLiteral("S2080FFFFC00F00F00EE"));
        else if (kind == QLatin1String("path"))
            mime.setText(dir_.filePath("fixture.mot"));
        else if (kind == QLatin1String("remote"))
            mime.setUrls({QUrl(QStringLiteral("http://radio.invalid/fixture.mot"))});

        WindowFixture f;
        frmMain& w = *f.window;
        const MemoryImage before = w.image;
        PointerLog pointer(w);
        const DropResult r = dropOn(w.Text3, mime);
        w.Text3_OLEDragDrop({});

        QVERIFY(!r.entered);
        QVERIFY(!r.dropped);
        QCOMPARE(w.Text3->text(), QString());
        QVERIFY(w.image == before);
        QVERIFY(f.messages.isEmpty());
        QVERIFY(pointer.changes.isEmpty());
    }

    void noLoadWhileAProcedureRuns_data() {
        QTest::addColumn<bool>("byEvents");
        QTest::newRow("dropped on the box") << true;
        QTest::newRow("handler called") << false;
    }

    void noLoadWhileAProcedureRuns() {
        QFETCH(bool, byEvents);
        sim::RadioOptions options;
        options.pacing.baud = 57600;
        WindowFixture f(options);
        frmMain& w = *f.window;
        const MemoryImage firmware = w.image;
        const QString path = dir_.filePath("other.mot");

        // In the middle of the write.
        bool dropped = true, running = false;
        f.sim.clock().at(30000, [&] {
            running = w.operationRunning() && f.radio().count(Kind::PG) > 0;
            if (byEvents) {
                const DropResult r = dropOn(w.Text3, *filesMime({path}));
                dropped = r.entered || r.dropped;
            } else {
                w.Text3_OLEDragDrop({path});
                dropped = false;
            }
        });
        w.cmdStart->click();

        QVERIFY(running);
        QVERIFY(!dropped);
        QCOMPARE(f.texts(), QStringList{"Completed."});
        QCOMPARE(w.Text3->text(), QString());
        QVERIFY(w.image == firmware);
        // The radio got the firmware, not a mix of it and the dropped file.
        for (std::uint32_t a = 0xC0000; a < 0xFF000; ++a)
            if (f.radio().flashAt(a) != std::uint8_t(firmware.at(a)))
                QFAIL(qPrintable(QStringLiteral("flash at %1 differs from the image").arg(a, 0, 16)));

        // Once the update is over, the same drop loads.
        QVERIFY(dropOn(w.Text3, *filesMime({path})).dropped);
        QVERIFY(w.image == imageOf(otherAddress, otherData));
    }

    void failedDropKeepsALoadedFile() {
        WindowFixture f;
        frmMain& w = *f.window;
        w.Text3_OLEDragDrop({dir_.filePath("other.mot")});
        const MemoryImage loaded = imageOf(otherAddress, otherData);
        QVERIFY(w.image == loaded);
        for (const char* bad : {"blank.s19", "s1data.mot", "missing.mot", "nobase.hex"})
            w.Text3_OLEDragDrop({dir_.filePath(QLatin1String(bad))});
        QCOMPARE(f.messages.size(), 4);
        QVERIFY(w.image == loaded);
    }

private:
    void write(const char* name, const QByteArray& content) {
        QFile file(dir_.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }

    QTemporaryDir dir_;
};

QTEST_MAIN(FileDropTest)
#include "tst_file_drop.moc"
