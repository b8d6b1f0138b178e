#include "com_ports.h"

#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace rqv5 {

namespace {

QStringView deviceName(const ComPort& port) {
    const QStringView device(port.device);
    return device.sliced(device.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isAdapter(QStringView name) {
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

// Digit runs compare by their value, everything else character by character.
// QCollator's numeric mode would do this, but not in the C locale, where it
// falls back to plain order and puts ttyUSB10 before ttyUSB2.
bool naturalLess(QStringView a, QStringView b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype startA = i, startB = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            QStringView numberA = a.sliced(startA, i - startA);
            QStringView numberB = b.sliced(startB, j - startB);
            while (numberA.size() > 1 && numberA.front() == QLatin1Char('0'))
                numberA = numberA.sliced(1);
            while (numberB.size() > 1 && numberB.front() == QLatin1Char('0'))
                numberB = numberB.sliced(1);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (const int c = numberA.compare(numberB); c != 0)
                return c < 0;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // equal by value, as ttyS01 and ttyS1: still a fixed order
}

} // namespace

QList<ComPort> orderComPorts(QList<ComPort> ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const ComPort& a, const ComPort& b) {
        const QStringView nameA = deviceName(a);
        const QStringView nameB = deviceName(b);
        if (isAdapter(nameA) != isAdapter(nameB))
            return isAdapter(nameA);
        return naturalLess(nameA, nameB);
    });
    return ports;
}

QList<ComPort> systemSerialPorts() {
    QList<ComPort> ports;
    for (const auto& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = info.manufacturer() + QLatin1Char(' ') + description;
        ports.append({info.systemLocation(), description.trimmed()});
    }
    return orderComPorts(ports);
}

std::optional<ComPort> resolveComPort(int number) {
    const QByteArray variable = "RQV5_COM" + QByteArray::number(number);
    if (!qEnvironmentVariableIsEmpty(variable.constData()))
        return resolveComPort(number, {});
    return resolveComPort(number, systemSerialPorts());
}

std::optional<ComPort> resolveComPort(int number, const QList<ComPort>& ports) {
    const QByteArray variable = "RQV5_COM" + QByteArray::number(number);
    const QString fromEnvironment = qEnvironmentVariable(variable.constData());
    if (!fromEnvironment.isEmpty())
        return ComPort{fromEnvironment, QStringLiteral("set by %1").arg(QLatin1String(variable))};
    if (number < 1)
        return std::nullopt;
    if (number > ports.size())
        return std::nullopt;
    return ports[number - 1];
}

} // namespace rqv5
