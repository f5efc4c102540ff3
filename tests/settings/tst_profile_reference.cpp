#include "TestFiles.h"
#include "settings/private_profile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <map>
#include <set>

// Replays calls recorded from a reference implementation of the two profile calls against our
// store. Per call it compares what the caller sees: a read's result and the buffer up to the
// last byte the reference wrote, a write's success. The file bytes after a write are not
// compared: the reference rewrites the whole file in a normal form, while our store keeps
// every line it does not change byte for byte.

namespace {

struct AllowedDifference {
    std::set<int> calls; // indexes of the case's calls that may differ
    const char* reason;
};

// Where we deliberately differ from the reference.
const std::map<QString, AllowedDifference> kAllowed = {
    {"path_relative_name", {{1}, "no Windows directory: a bare name is relative to the cwd"}},
    {"dup_key_delete", {{1}, "a removed key goes in every copy: no older value comes back"}},
    {"dup_section_delete", {{1}, "a removed section goes in every copy: no old keys come back"}},
    {"write_value_blanks", {{1}, "our quoting keeps a value's outer blanks"}},
    {"write_value_quotes", {{1}, "our quoting keeps a value's outer quotes"}},
    {"write_value_lf", {{0, 1, 2}, "a line break in a value is refused, never a new line"}},
    {"write_value_cr", {{0, 1}, "a line break in a value is refused, never a new line"}},
    {"write_value_crlf_injection", {{0, 1, 2, 3}, "a line break in a value is refused"}},
    {"write_key_with_equals", {{0, 1}, "a key holding '=' could not be read back: refused"}},
    {"write_key_semicolon", {{0, 1}, "a ';' key is left out of key lists: refused"}},
    {"write_high_bytes", {{1}, "8-bit text is UTF-8 here, code page 1252 there"}},
    {"fmt_utf8_bom_nonascii", {{0}, "8-bit text is UTF-8 here, code page 1252 there"}},
    {"fmt_high_bytes_no_bom", {{0}, "8-bit text is UTF-8 here, code page 1252 there"}},
};

QByteArray bytesOf(const QJsonValue& hex)
{
    return hex.isNull() ? QByteArray() : QByteArray::fromHex(hex.toString().toLatin1());
}

const char* arg(const QByteArray& text)
{
    return text.isNull() ? nullptr : text.constData();
}

// Readable form of bytes for a failure message: escapes, and long runs of one byte shortened.
QString shown(const QByteArray& bytes)
{
    if (bytes.isNull())
        return QStringLiteral("NULL");
    QString text = QStringLiteral("\"");
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype run = 1;
        while (i + run < bytes.size() && bytes[i + run] == bytes[i])
            ++run;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const QString one = byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\'
                                ? QString(QChar(byte))
                                : QStringLiteral("\\x%1").arg(byte, 2, 16, QChar(u'0'));
        if (run > 8) {
            text += QStringLiteral("%1*%2").arg(one).arg(run);
        } else {
            for (qsizetype n = 0; n < run; ++n)
                text += one;
        }
        i += run;
    }
    return text + u'"';
}

QJsonArray referenceCases()
{
    QFile file(QStringLiteral(PROFILE_REFERENCE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll())
        .object()
        .value(QStringLiteral("cases"))
        .toArray();
}

struct Outcome {
    QString call;
    QByteArray got;
    QByteArray expected;
};

// Makes every call of a recorded case in order; the case's file is `ini` inside `dir`.
QVector<Outcome> replay(const QJsonObject& recorded, const QTemporaryDir& dir, const QString& ini)
{
    const QString name = recorded.value(QStringLiteral("name")).toString();
    const auto pathOf = [&](const QString& token) -> QByteArray {
        if (token == QStringLiteral("$INI"))
            return QFile::encodeName(ini);
        if (token == QStringLiteral("$NODIR"))
            return QFile::encodeName(dir.filePath(QStringLiteral("missing/") + name + ".ini"));
        // There is no Windows directory here: a bare name is resolved in the working directory.
        if (token.startsWith(QStringLiteral("rel:")))
            return QFile::encodeName(token.mid(4));
        if (token.startsWith(QStringLiteral("$WINDIR/")))
            return QFile::encodeName(dir.filePath(QStringLiteral("windows/") + token.mid(8)));
        return QFile::encodeName(token);
    };
    const QString previousDirectory = QDir::currentPath();
    QDir::setCurrent(dir.path());

    QVector<Outcome> outcomes;
    for (const QJsonValue& entry : recorded.value(QStringLiteral("calls")).toArray()) {
        const QJsonObject call = entry.toObject();
        const QByteArray section = bytesOf(call.value(QStringLiteral("section")));
        const QByteArray key = bytesOf(call.value(QStringLiteral("key")));
        const QByteArray path = pathOf(call.value(QStringLiteral("file")).toString());
        const int expectedResult = call.value(QStringLiteral("ret")).toInt();
        Outcome outcome;
        if (call.value(QStringLiteral("fn")).toString() == QStringLiteral("get")) {
            const QByteArray fallback = bytesOf(call.value(QStringLiteral("default")));
            const auto size =
                static_cast<std::uint32_t>(call.value(QStringLiteral("size")).toInt());
            QByteArray buffer(static_cast<qsizetype>(size) + 1, '\xCC');
            const int result = profile::GetPrivateProfileStringA(
                arg(section), arg(key), arg(fallback), buffer.data(), size, path.constData());
            const QByteArray written = bytesOf(call.value(QStringLiteral("buffer")));
            outcome.call = QStringLiteral("GET(%1, %2, %3, %4)")
                               .arg(shown(section), shown(key), shown(fallback))
                               .arg(size);
            outcome.got = QByteArray::number(result) + ' ' + buffer.left(written.size());
            outcome.expected = QByteArray::number(expectedResult) + ' ' + written;
            if (buffer.at(size) != '\xCC')
                outcome.got += " (wrote past the buffer)";
        } else {
            const QByteArray value = bytesOf(call.value(QStringLiteral("value")));
            const int result = profile::WritePrivateProfileStringA(arg(section), arg(key),
                                                                   arg(value), path.constData());
            outcome.call =
                QStringLiteral("WRITE(%1, %2, %3)").arg(shown(section), shown(key), shown(value));
            outcome.got = result != 0 ? "succeeds" : "fails";
            outcome.expected = expectedResult != 0 ? "succeeds" : "fails";
        }
        outcomes.append(outcome);
    }
    QDir::setCurrent(previousDirectory);
    return outcomes;
}

} // namespace

class tst_ProfileReference : public QObject {
    Q_OBJECT

private slots:
    void call_answersAsTheReference_data();
    void call_answersAsTheReference();
    void cleanupTestCase();

private:
    qsizetype calls_ = 0;
    qsizetype agreeing_ = 0;
};

void tst_ProfileReference::call_answersAsTheReference_data()
{
    QTest::addColumn<QJsonObject>("recorded");
    const QJsonArray cases = referenceCases();
    QCOMPARE(cases.size(), 120);
    for (const QJsonValue& entry : cases) {
        const QJsonObject recorded = entry.toObject();
        QTest::newRow(qPrintable(recorded.value(QStringLiteral("name")).toString())) << recorded;
    }
}

void tst_ProfileReference::call_answersAsTheReference()
{
    QFETCH(QJsonObject, recorded);
    const QString name = recorded.value(QStringLiteral("name")).toString();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(name + QStringLiteral(".ini"));
    const QJsonValue initial = recorded.value(QStringLiteral("initial_file"));
    if (!initial.isNull())
        putFile(ini, bytesOf(initial));
    if (recorded.value(QStringLiteral("readonly")).toBool())
        QVERIFY(QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ReadOther));

    const QVector<Outcome> outcomes = replay(recorded, dir, ini);
    calls_ += outcomes.size();
    agreeing_ += std::count_if(outcomes.begin(), outcomes.end(),
                               [](const Outcome& o) { return o.got == o.expected; });
    const auto allowed = kAllowed.find(name);
    for (int i = 0; i < outcomes.size(); ++i) {
        const Outcome& outcome = outcomes[i];
        if (allowed != kAllowed.end() && allowed->second.calls.count(i) != 0)
            QEXPECT_FAIL("", allowed->second.reason, Continue);
        QVERIFY2(outcome.got == outcome.expected,
                 qPrintable(QStringLiteral("call %1, %2: got %3, expected %4")
                                .arg(i)
                                .arg(outcome.call, shown(outcome.got), shown(outcome.expected))));
    }
}

void tst_ProfileReference::cleanupTestCase()
{
    qInfo("%lld of %lld calls answer as the reference", static_cast<long long>(agreeing_),
          static_cast<long long>(calls_));
}

QTEST_GUILESS_MAIN(tst_ProfileReference)
#include "tst_profile_reference.moc"
