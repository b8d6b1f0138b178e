#include "output_schedule.h"

#include <QTest>

using namespace rqv5::sim;

class TestOutputSchedule : public QObject {
    Q_OBJECT

private:
    // The bytes handed over at each due time, as "time:count" pairs.
    static QStringList handovers(OutputSchedule& schedule) {
        QStringList out;
        while (const auto next = schedule.nextEventTime()) {
            const auto handover = schedule.takeDue(*next);
            if (!handover.bytes.isEmpty())
                out << QStringLiteral("%1:%2").arg(*next).arg(handover.bytes.size());
        }
        return out;
    }

private slots:
    void lineTime_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("micros");
        QTest::newRow("one byte at 57600") << qint64{1} << 57600 << qint64{174};
        QTest::newRow("5760 bytes at 57600 is one second") << qint64{5760} << 57600 << qint64{1'000'000};
        QTest::newRow("a packet and its status at 57600") << qint64{1036} << 57600 << qint64{179'862};
        QTest::newRow("one byte at 9600") << qint64{1} << 9600 << qint64{1042};
        QTest::newRow("no pacing") << qint64{1036} << 0 << qint64{0};
    }
    void lineTime() {
        QFETCH(qint64, bytes);
        QFETCH(int, baud);
        QFETCH(qint64, micros);
        QCOMPARE(Pacing::lineTime(bytes, baud), micros);
        if (baud > 0)
            QCOMPARE((Pacing{baud, 10, 0}.bytesPerSecond()), baud / 10);
    }

    // A byte is complete one byte time after the line is free; without frames it
    // is handed over then, with frames at the next frame boundary.
    void pacingAndFrames_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<qint64>("ready");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("unpaced: all at once") << 0 << qint64{0} << 15 << qint64{100} << QStringList{"100:15"};
        QTest::newRow("57600: byte by byte")
            << 57600 << qint64{0} << 3 << qint64{0} << QStringList{"174:1", "348:1", "521:1"};
        QTest::newRow("57600 starting late")
            << 57600 << qint64{0} << 1 << qint64{1000} << QStringList{"1174:1"};
        // 6 bytes complete at 174, 348, 521, 695, 869 and 1042 us.
        QTest::newRow("57600 in 1 ms frames")
            << 57600 << qint64{1000} << 6 << qint64{0} << QStringList{"1000:5", "2000:1"};
        QTest::newRow("unpaced in 1 ms frames")
            << 0 << qint64{1000} << 4 << qint64{1} << QStringList{"1000:4"};
        QTest::newRow("frame boundary itself")
            << 0 << qint64{1000} << 1 << qint64{3000} << QStringList{"3000:1"};
    }
    void pacingAndFrames() {
        QFETCH(int, baud);
        QFETCH(qint64, frame);
        QFETCH(int, bytes);
        QFETCH(qint64, ready);
        QFETCH(QStringList, expected);
        OutputSchedule schedule({baud, 10, frame});
        schedule.send(QByteArray(bytes, 'x'), ready);
        QCOMPARE(handovers(schedule), expected);
        QCOMPARE(schedule.bytesHandedOver(), bytes);
    }

    void lastByteOfAPacketAt57600() {
        OutputSchedule schedule({57600, 10, 0});
        schedule.send(QByteArray(1032, 'e'), 0);
        schedule.send("ED\r\n", 0);
        QByteArray all;
        Micros last = 0;
        while (const auto next = schedule.nextEventTime()) {
            all += schedule.takeDue(*next).bytes;
            last = *next;
        }
        QCOMPARE(all.size(), 1036);
        QVERIFY(all.endsWith("ED\r\n"));
        QCOMPARE(last, Pacing::lineTime(1036, 57600));
    }

    // A chunk queued while the line is busy waits for it; one ready later than
    // a chunk queued after it is overtaken (an echo passes a late reply).
    void lineOrder_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("times");
        QTest::newRow("unpaced") << 0 << QByteArray("abEcdR") << QStringList{"0:2", "10:1", "20:2", "5000:1"};
        // At 57600 "ab" occupies the line until 348 us, so E, ready at 10, follows.
        QTest::newRow("57600") << 57600 << QByteArray("abEcdR")
                               << QStringList{"174:1", "348:1", "521:1", "695:1", "869:1", "5174:1"};
    }
    void lineOrder() {
        QFETCH(int, baud);
        QFETCH(QByteArray, expected);
        QFETCH(QStringList, times);
        OutputSchedule schedule({baud, 10, 0});
        schedule.send("R", 5000);
        schedule.send("ab", 0);
        schedule.send("E", 10);
        schedule.send("cd", 20);
        QByteArray all;
        QStringList got;
        while (const auto next = schedule.nextEventTime()) {
            const QByteArray bytes = schedule.takeDue(*next).bytes;
            if (!bytes.isEmpty())
                got << QStringLiteral("%1:%2").arg(*next).arg(bytes.size());
            all += bytes;
        }
        QCOMPARE(all, expected);
        QCOMPARE(got, times);
    }

    void equalReadyTimesKeepQueueOrder() {
        OutputSchedule schedule;
        schedule.send("first", 7);
        schedule.send("second", 7);
        QCOMPARE(schedule.takeDue(7).bytes, QByteArray("firstsecond"));
    }

    void hangUpCutsTheLineAfterItsChunk() {
        OutputSchedule schedule({57600, 10, 1000});
        schedule.send("ok", 0, true);
        schedule.send("never", 0);
        const auto handover = schedule.takeDue(100'000);
        QCOMPARE(handover.bytes, QByteArray("ok"));
        QVERIFY(handover.hangUp);
        QVERIFY(schedule.empty());
        QVERIFY(!schedule.nextEventTime());
    }

    void hangUpWithNothingToSend() {
        OutputSchedule schedule;
        schedule.send({}, 300, true);
        QCOMPARE(schedule.nextEventTime(), std::optional<Micros>(300));
        QVERIFY(!schedule.takeDue(299).hangUp);
        QVERIFY(schedule.takeDue(300).hangUp);
    }

    void nothingQueued() {
        OutputSchedule schedule;
        QVERIFY(!schedule.nextEventTime());
        QVERIFY(!schedule.drainedAt());
        QVERIFY(schedule.takeDue(1'000'000).bytes.isEmpty());
    }

    void drainedAtIsTheLastHandover() {
        OutputSchedule schedule({57600, 10, 0});
        schedule.send("ab", 0);
        QVERIFY(!schedule.drainedAt());
        schedule.takeDue(200);
        QVERIFY(!schedule.drainedAt());
        schedule.takeDue(400);
        QCOMPARE(schedule.drainedAt(), std::optional<Micros>(400));
    }
};

QTEST_GUILESS_MAIN(TestOutputSchedule)
#include "tst_output_schedule.moc"
