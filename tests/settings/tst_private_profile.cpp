#include "TestFiles.h"
#include "settings/ini_document.h"
#include "settings/private_profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <unistd.h>

using profile::GetPrivateProfileStringA;
using profile::WritePrivateProfileStringA;

namespace {

// QByteArray that may stand for an absent argument.
const QByteArray kAbsent;

const char* arg(const QByteArray& text)
{
    return text.isNull() ? nullptr : text.constData();
}

struct Read {
    QByteArray bytes;
    int count;
};

Read get(const QByteArray& section, const QByteArray& key, const QByteArray& fallback,
         std::uint32_t bufferSize, const QString& path)
{
    QByteArray buffer(static_cast<int>(bufferSize), 'x');
    const int count = GetPrivateProfileStringA(arg(section), arg(key), arg(fallback), buffer.data(),
                                               bufferSize, path.toLocal8Bit());
    return {buffer, count};
}

} // namespace

class tst_PrivateProfile : public QObject {
    Q_OBJECT

private slots:
    void readValue_data();
    void readValue();
    void readList_data();
    void readList();
    void missingFile_readsDefaultsAndEmptyLists();
    void write_data();
    void write();
    void writtenValue_readsBackUnchanged_data();
    void writtenValue_readsBackUnchanged();
    void externalChange_isNoticed();
    void batch_reachesDiskOnlyOnCommit();
    void batch_failedCommit_keepsOldFile();
    void directoryInPlaceOfFile_readsNothingAndRefusesWrites();
    void readError_saysWhyTheFileCouldNotBeRead_data();
    void readError_saysWhyTheFileCouldNotBeRead();

private:
    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("k.ini")); }
};

void tst_PrivateProfile::readValue_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("fallback");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray basic = "[pairs]\npattern0=open mail\ncommand0=mail\n";
    QTest::newRow("plain") << basic << QByteArray("pairs") << QByteArray("command0") << kAbsent
                           << QByteArray("mail");
    QTest::newRow("names ignore case") << basic << QByteArray("PAIRS") << QByteArray("Pattern0")
                                       << kAbsent << QByteArray("open mail");
    QTest::newRow("missing key, absent default")
        << basic << QByteArray("pairs") << QByteArray("focus0") << kAbsent << QByteArray("");
    QTest::newRow("missing key, default") << basic << QByteArray("pairs") << QByteArray("focus0")
                                          << QByteArray("FAIL") << QByteArray("FAIL");
    QTest::newRow("missing section") << basic << QByteArray("other") << QByteArray("pattern0")
                                     << QByteArray("d") << QByteArray("d");
    QTest::newRow("empty value is not the default")
        << QByteArray("[s]\nk=\n") << QByteArray("s") << QByteArray("k") << QByteArray("d")
        << QByteArray("");
    QTest::newRow("blanks around names and value")
        << QByteArray("  [ s ]  \n\t k \t=  v w  \n") << QByteArray("s") << QByteArray("k")
        << kAbsent << QByteArray("v w");
    QTest::newRow("double quotes dropped") << QByteArray("[s]\nk=\" v \"\n") << QByteArray("s")
                                           << QByteArray("k") << kAbsent << QByteArray(" v ");
    QTest::newRow("single quotes dropped") << QByteArray("[s]\nk='v'\n") << QByteArray("s")
                                           << QByteArray("k") << kAbsent << QByteArray("v");
    QTest::newRow("unmatched quotes kept") << QByteArray("[s]\nk=\"v'\n") << QByteArray("s")
                                           << QByteArray("k") << kAbsent << QByteArray("\"v'");
    QTest::newRow("split at first equals") << QByteArray("[s]\nk=a=b\n") << QByteArray("s")
                                           << QByteArray("k") << kAbsent << QByteArray("a=b");
    QTest::newRow("comment is no key") << QByteArray("[s]\n;k=v\n") << QByteArray("s")
                                       << QByteArray(";k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("first duplicate key wins") << QByteArray("[s]\nk=1\nk=2\n") << QByteArray("s")
                                              << QByteArray("k") << kAbsent << QByteArray("1");
    QTest::newRow("first duplicate section wins")
        << QByteArray("[s]\nk=1\n[S]\nk=2\nj=3\n") << QByteArray("s") << QByteArray("j")
        << QByteArray("d") << QByteArray("d");
    QTest::newRow("section name runs to last bracket")
        << QByteArray("[a]b]\nk=v\n") << QByteArray("a]b") << QByteArray("k") << kAbsent
        << QByteArray("v");
    QTest::newRow("byte-order mark skipped")
        << QByteArray("\xEF\xBB\xBF[s]\nk=v\n") << QByteArray("s") << QByteArray("k") << kAbsent
        << QByteArray("v");
    QTest::newRow("CRLF") << QByteArray("[s]\r\nk=v\r\nj=w\r\n") << QByteArray("s")
                          << QByteArray("k") << kAbsent << QByteArray("v");
    QTest::newRow("no final line end") << QByteArray("[s]\nk=v") << QByteArray("s")
                                       << QByteArray("k") << kAbsent << QByteArray("v");
    QTest::newRow("key before any section is in none")
        << QByteArray("k=v\n[s]\n") << QByteArray("s") << QByteArray("k") << kAbsent
        << QByteArray("");
}

void tst_PrivateProfile::readValue()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, fallback);
    QFETCH(QByteArray, expected);

    putFile(path(), file);
    const Read read = get(section, key, fallback, 255, path());
    QCOMPARE(read.count, expected.size());
    QCOMPARE(read.bytes.left(read.count), expected);
    QCOMPARE(read.bytes.at(read.count), '\0');
}

void tst_PrivateProfile::readList_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QByteArray>("expected"); // the buffer up to and with its final NULs
    QTest::addColumn<int>("count");

    const QByteArray file = "; head\n[one]\na=1\n;c=2\nbb=3\nA=4\n[two]\n[ONE]\nz=9\n";
    QTest::newRow("key list") << file << QByteArray("one") << 64 << QByteArray("a\0bb\0\0", 6) << 5;
    QTest::newRow("section list, duplicates once")
        << file << kAbsent << 64 << QByteArray("one\0two\0\0", 9) << 8;
    QTest::newRow("missing section")
        << file << QByteArray("three") << 64 << QByteArray("\0", 1) << 0;
    QTest::newRow("empty section") << file << QByteArray("two") << 64 << QByteArray("\0", 1) << 0;
    QTest::newRow("exact fit") << file << QByteArray("one") << 6 << QByteArray("a\0bb\0\0", 6) << 5;
    QTest::newRow("cut inside last name")
        << file << QByteArray("one") << 5 << QByteArray("a\0b\0\0", 5) << 3;
    QTest::newRow("cut after a NUL")
        << file << QByteArray("one") << 4 << QByteArray("a\0\0\0", 4) << 2;
    QTest::newRow("empty key name is listed")
        << QByteArray("[s]\n=v\nk=w\n") << QByteArray("s") << 64 << QByteArray("\0k\0\0", 4) << 3;
}

void tst_PrivateProfile::readList()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(int, bufferSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, count);

    putFile(path(), file);
    const Read read =
        get(section, kAbsent, kAbsent, static_cast<std::uint32_t>(bufferSize), path());
    QCOMPARE(read.count, count);
    QCOMPARE(read.bytes.left(expected.size()), expected);
}

void tst_PrivateProfile::missingFile_readsDefaultsAndEmptyLists()
{
    const QString missing = dir_.filePath(QStringLiteral("none.ini"));
    QCOMPARE(get("s", "k", "dflt", 255, missing).bytes.left(5), QByteArray("dflt\0", 5));
    QCOMPARE(get("s", kAbsent, kAbsent, 255, missing).count, 0);
    QCOMPARE(get(kAbsent, kAbsent, kAbsent, 255, missing).count, 0);
    QVERIFY(!QFile::exists(missing));
}

void tst_PrivateProfile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");

    const QByteArray file = "; settings\n[one]\na=1\nb=2\n\n; about two\n[two]\nc=3\n";
    QTest::newRow("change a key")
        << file << QByteArray("ONE") << QByteArray("B") << QByteArray("20") << 1
        << QByteArray("; settings\n[one]\na=1\nB=20\n\n; about two\n[two]\nc=3\n");
    QTest::newRow("new key after the last key")
        << file << QByteArray("one") << QByteArray("d") << QByteArray("4") << 1
        << QByteArray("; settings\n[one]\na=1\nb=2\nd=4\n\n; about two\n[two]\nc=3\n");
    QTest::newRow("new section at the end") << file << QByteArray("three") << QByteArray("e")
                                            << QByteArray("5") << 1 << file + "\n[three]\ne=5\n";
    QTest::newRow("remove a key") << file << QByteArray("one") << QByteArray("a") << kAbsent << 1
                                  << QByteArray(
                                         "; settings\n[one]\nb=2\n\n; about two\n[two]\nc=3\n");
    QTest::newRow("remove a section") << file << QByteArray("one") << kAbsent << kAbsent << 1
                                      << QByteArray("; settings\n[two]\nc=3\n");
    QTest::newRow("remove a missing section")
        << file << QByteArray("nine") << kAbsent << kAbsent << 1 << file;
    QTest::newRow("CRLF file keeps CRLF")
        << QByteArray("[s]\r\nk=v\r\n") << QByteArray("s") << QByteArray("j") << QByteArray("w")
        << 1 << QByteArray("[s]\r\nk=v\r\nj=w\r\n");
    QTest::newRow("line end added to last line")
        << QByteArray("[s]\nk=v") << QByteArray("s") << QByteArray("j") << QByteArray("w") << 1
        << QByteArray("[s]\nk=v\nj=w\n");
    QTest::newRow("mixed line ends kept")
        << QByteArray("[s]\nk=v\r\n") << QByteArray("t") << QByteArray("j") << QByteArray("w") << 1
        << QByteArray("[s]\nk=v\r\n\n[t]\nj=w\n");
    QTest::newRow("value with LF refused")
        << file << QByteArray("one") << QByteArray("a") << QByteArray("x\n[evil]") << 0 << file;
    QTest::newRow("value with CR refused")
        << file << QByteArray("one") << QByteArray("a") << QByteArray("x\ry") << 0 << file;
    QTest::newRow("key with equals refused")
        << file << QByteArray("one") << QByteArray("a=b") << QByteArray("x") << 0 << file;
    QTest::newRow("absent section refused")
        << file << kAbsent << QByteArray("a") << QByteArray("x") << 0 << file;
    QTest::newRow("new file") << QByteArray() << QByteArray("s") << QByteArray("k")
                              << QByteArray("v") << 1 << QByteArray("[s]\nk=v\n");
}

void tst_PrivateProfile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(int, result);
    QFETCH(QByteArray, after);

    QFile::remove(path());
    if (!before.isNull())
        putFile(path(), before);
    QCOMPARE(WritePrivateProfileStringA(arg(section), arg(key), arg(value), path().toLocal8Bit()),
             result);
    QCOMPARE(fileBytes(path()), after);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).size(), after.isNull() ? 0 : 1);
}

void tst_PrivateProfile::writtenValue_readsBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("value");
    const char* values[] = {
        "",        " lead",  "trail ",          "\"quoted\"",    "'single'",      "\"",
        "'",       "a=b=c",  "; not a comment", "# hash",        "[not section]", "\tab\t",
        "grüße ☺", "\"open", "close'",          "\xff\xfe bytes"};
    for (const char* value : values)
        QTest::newRow(value) << QByteArray(value);
}

void tst_PrivateProfile::writtenValue_readsBackUnchanged()
{
    QFETCH(QByteArray, value);
    putFile(path(), "[s]\nother=1\n");
    QCOMPARE(WritePrivateProfileStringA("s", "k", value.constData(), path().toLocal8Bit()), 1);

    const Read read = get("s", "k", "d", 255, path());
    QCOMPARE(read.bytes.left(read.count), value);
    // What a fresh reader makes of the bytes on disk, not only of the store's own copy.
    const auto document = profile::IniDocument::parse(fileBytes(path()).toStdString());
    const std::string* onDisk = document.value("s", "k");
    QVERIFY(onDisk);
    QCOMPARE(QByteArray::fromStdString(*onDisk), value);
    QVERIFY(fileBytes(path()).startsWith("[s]\nother=1\n"));
}

void tst_PrivateProfile::externalChange_isNoticed()
{
    QCOMPARE(WritePrivateProfileStringA("s", "k", "mine", path().toLocal8Bit()), 1);
    QCOMPARE(get("s", "k", kAbsent, 255, path()).bytes.left(4), QByteArray("mine"));
    putFile(path(), "[s]\nk=theirs\n");
    QCOMPARE(get("s", "k", kAbsent, 255, path()).bytes.left(6), QByteArray("theirs"));
}

void tst_PrivateProfile::batch_reachesDiskOnlyOnCommit()
{
    putFile(path(), "[s]\nk=old\n");
    profile::Batch batch(path().toStdString());
    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", path().toLocal8Bit()), 1);
    QCOMPARE(WritePrivateProfileStringA("s", "j", "more", path().toLocal8Bit()), 1);
    QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=old\n"));
    QCOMPARE(get("s", "k", kAbsent, 255, path()).bytes.left(3), QByteArray("new"));
    QVERIFY(batch.commit());
    QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=new\nj=more\n"));
    QVERIFY(batch.commit());
}

void tst_PrivateProfile::batch_failedCommit_keepsOldFile()
{
    QDir base(dir_.path());
    QVERIFY(base.mkpath(QStringLiteral("gone")));
    const QString inside = dir_.filePath(QStringLiteral("gone/k.ini"));
    putFile(inside, "[s]\nk=old\n");
    profile::Batch batch(inside.toStdString());
    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", inside.toLocal8Bit()), 1);
    QVERIFY(base.rename(QStringLiteral("gone"), QStringLiteral("moved")));
    QVERIFY(!batch.commit());
    QCOMPARE(fileBytes(dir_.filePath(QStringLiteral("moved/k.ini"))), QByteArray("[s]\nk=old\n"));
    QCOMPARE(QDir(dir_.filePath(QStringLiteral("moved"))).entryList(QDir::Files).size(), 1);
}

void tst_PrivateProfile::directoryInPlaceOfFile_readsNothingAndRefusesWrites()
{
    const QString folder = dir_.filePath(QStringLiteral("folder.ini"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(get("s", "k", "d", 255, folder).bytes.left(2), QByteArray("d\0", 2));
    QCOMPARE(WritePrivateProfileStringA("s", "k", "v", folder.toLocal8Bit()), 0);
    QVERIFY(QFileInfo(folder).isDir());
}

void tst_PrivateProfile::readError_saysWhyTheFileCouldNotBeRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << "missing" << 0;
    QTest::newRow("readable") << "readable" << 0;
    QTest::newRow("empty") << "empty" << 0;
    QTest::newRow("a directory") << "directory" << EISDIR;
    QTest::newRow("no read permission") << "unreadable" << EACCES;
}

void tst_PrivateProfile::readError_saysWhyTheFileCouldNotBeRead()
{
    QFETCH(QString, kind);
    QFETCH(int, error);
    const QString file = dir_.filePath(kind + QStringLiteral(".ini"));
    if (kind == QStringLiteral("directory")) {
        QVERIFY(QDir().mkpath(file));
    } else if (kind != QStringLiteral("missing")) {
        putFile(file, kind == QStringLiteral("empty") ? QByteArray() : QByteArray("[s]\nk=v\n"));
    }
    if (kind == QStringLiteral("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads any file; the built program's test covers this as another user");
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
    }
    QCOMPARE(profile::readError(file.toStdString()), error);
    if (error != 0)
        QCOMPARE(WritePrivateProfileStringA("s", "k", "new", file.toLocal8Bit()), 0);
}

QTEST_GUILESS_MAIN(tst_PrivateProfile)
#include "tst_private_profile.moc"
