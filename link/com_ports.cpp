#include "com_ports.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace rqv5 {

namespace {

bool isAdapter(const QString& name) {
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

} // namespace

QList<ComPort> systemSerialPorts() {
    auto infos = QSerialPortInfo::availablePorts();
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(infos.begin(), infos.end(), [&](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        const bool aAdapter = isAdapter(a.portName());
        const bool bAdapter = isAdapter(b.portName());
        if (aAdapter != bAdapter)
            return aAdapter;
        return natural.compare(a.portName(), b.portName()) < 0;
    });
    QList<ComPort> ports;
    for (const auto& info : infos) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = info.manufacturer() + QLatin1Char(' ') + description;
        ports.append({info.systemLocation(), description.trimmed()});
    }
    return ports;
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
