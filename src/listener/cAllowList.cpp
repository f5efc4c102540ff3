#include "cAllowList.h"

cAllowList cAllowList::parse(const QString& text, QStringList& rejected)
{
    cAllowList list;
    list.restricted_ = true;
    const QStringList entries = text.split(u',');
    for (const QString& untrimmed : entries) {
        const QString entry = untrimmed.trimmed();
        if (entry.isEmpty())
            continue;
        QPair<QHostAddress, int> range;
        const QHostAddress address(entry);
        if (!address.isNull())
            range = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        else if (entry.contains(u'/'))
            range = QHostAddress::parseSubnet(entry);
        if (range.first.isNull())
            rejected << entry;
        else
            list.ranges_ << range;
    }
    return list;
}

bool cAllowList::admits(const QString& address) const
{
    if (!restricted_)
        return true;
    const QHostAddress peer(address);
    for (const auto& range : ranges_) {
        if (peer.isInSubnet(range))
            return true;
    }
    return false;
}
