#pragma once

// The simulated radio as a separate program on a pseudo-terminal: started with
// fault options, its device path read from its first line, stopped with SIGTERM
// and its key=value summary collected.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>

namespace rqv5::test {

class PtySimulator {
public:
    explicit PtySimulator(const QStringList& options = {},
                          const QString& program = QStringLiteral(RQV5_SIM_PROGRAM)) {
        dumpPath_ = dir_.filePath(QStringLiteral("flash.bin"));
        process_.setProgram(program);
        process_.setArguments(options + QStringList{QStringLiteral("--dump"), dumpPath_});
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(10000))
            return;
        QDeadlineTimer deadline(10000);
        while (!process_.canReadLine() && !deadline.hasExpired() && process_.state() == QProcess::Running)
            process_.waitForReadyRead(100);
        device_ = QString::fromLocal8Bit(process_.readLine().trimmed());
    }

    ~PtySimulator() {
        if (process_.state() != QProcess::NotRunning)
            stop();
    }

    bool started() const { return !device_.isEmpty(); }
    // The slave device to open as the radio's serial port, e.g. /dev/pts/4.
    QString device() const { return device_; }
    qint64 pid() const { return process_.processId(); }

    // Stops the radio (if it has not stopped by itself) and returns its summary.
    QMap<QByteArray, QByteArray> stop() {
        if (process_.state() == QProcess::Running)
            ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        process_.waitForFinished(10000);
        for (const QByteArray& line : process_.readAllStandardOutput().split('\n')) {
            const int eq = line.indexOf('=');
            if (eq > 0)
                summary_.insert(line.left(eq), line.mid(eq + 1));
        }
        return summary_;
    }

    // Waits until the radio has exited by itself (a hang-up), up to `ms`.
    bool waitForExit(int ms) { return process_.waitForFinished(ms); }

    // The radio's flash after stop(): 256 KB for 0xC0000..0xFFFFF.
    QByteArray flash() const {
        QFile f(dumpPath_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QMap<QByteArray, QByteArray> summary() const { return summary_; }
    QByteArray errors() { return process_.readAllStandardError(); }

private:
    QTemporaryDir dir_;
    QString dumpPath_;
    QProcess process_;
    QString device_;
    QMap<QByteArray, QByteArray> summary_;
};

} // namespace rqv5::test
