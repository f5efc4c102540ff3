#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The peers that may send voice strings: everyone, unless the settings name addresses and
// address ranges.
class cAllowList {
public:
    // Admits every peer.
    cAllowList() = default;
    // A comma-separated list of addresses and CIDR ranges, IPv4 and IPv6 ("127.0.0.1",
    // "192.168.1.0/24", "::1"). Entries that are neither are left out and added to `rejected`:
    // they never widen access, and a list of nothing but them admits nobody.
    static cAllowList parse(const QString& text, QStringList& rejected);

    bool admits(const QString& address) const;

private:
    bool restricted_ = false;
    QList<QPair<QHostAddress, int>> ranges_;
};
