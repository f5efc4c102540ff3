#include "cWavReader.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

namespace {

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 le16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

} // namespace

QString cWavReader::describe(const QByteArray& file, QByteArray* samples)
{
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return QStringLiteral("not a WAV file");
    QString format;
    bool wanted = false;
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const QByteArray id = file.mid(at, 4);
        const qsizetype size = le32(file, at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= file.size()) {
            const quint16 encoding = le16(file, body), channels = le16(file, body + 2);
            const quint32 rate = le32(file, body + 4);
            const quint16 bits = le16(file, body + 14);
            format = QStringLiteral("%1 Hz, %2 channel(s), %3-bit%4")
                         .arg(rate)
                         .arg(channels)
                         .arg(bits)
                         .arg(encoding == 1 ? QString() : QStringLiteral(", not plain PCM"));
            wanted = encoding == 1 && channels == 1 && rate == 16000 && bits == 16;
        } else if (id == "data" && !format.isEmpty()) {
            if (!wanted)
                return format;
            *samples = file.mid(body, std::min(size, file.size() - body) & ~qsizetype{1});
            return QString();
        }
        at = body + size + (size & 1);
    }
    return format.isEmpty() ? QStringLiteral("a WAV file without a format")
                            : QStringLiteral("a WAV file without samples");
}

cWavReader::cWavReader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return;
    }
    const QString format = describe(file.readAll(), &samples_);
    if (format.isEmpty())
        return;
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (sox.isEmpty()) {
        error_ = QStringLiteral("%1 is %2; the recogniser takes 16 kHz, mono, 16-bit PCM: install "
                                "sox to have it converted, or convert it yourself")
                     .arg(path, format);
        return;
    }
    // Straight into memory: no converted copy is left anywhere.
    QProcess convert;
    convert.start(sox, {path, "-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e",
                        "signed-integer", "-L", "-"});
    convert.waitForFinished(-1);
    if (convert.exitStatus() != QProcess::NormalExit || convert.exitCode() != 0) {
        error_ = QStringLiteral("%1 is %2, and sox cannot convert it: %3")
                     .arg(path, format,
                          QString::fromLocal8Bit(convert.readAllStandardError()).trimmed());
        return;
    }
    samples_ = convert.readAllStandardOutput();
}
