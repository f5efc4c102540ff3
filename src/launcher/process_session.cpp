#include "process_session.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>

pid_t sessionOf(pid_t process)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // state, parent, process group, session
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 3 ? fields.at(3).toInt() : 0;
}

QString programNameOf(pid_t process)
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(process))).fileName();
}

QString whyNoWindow(pid_t program, int watchedMs)
{
    if (::kill(program, 0) != 0)
        return {};
    return QStringLiteral("no window appeared within %1 seconds").arg(watchedMs / 1000);
}
