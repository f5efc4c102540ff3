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
    void missingFile_readsDefaultsAndEmptyLists();
    void write_data();
    void write();
    void fileEncoding_isReadAndWrittenBack_data();
    void fileEncoding_isReadAndWrittenBack();
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
    QTest::newRow("CR line ends kept")
        << QByteArray("[s]\rk=v\r") << QByteArray("s") << QByteArray("j") << QByteArray("w") << 1
        << QByteArray("[s]\rk=v\rj=w\r");
    QTest::newRow("section \"\" holds the lines before the first header")
        << QByteArray("; top\nk=v\n[s]\n") << QByteArray("") << QByteArray(" k ") << QByteArray("w")
        << 1 << QByteArray("; top\nk=w\n[s]\n");
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

QByteArray utf16(const QString& text)
{
    return QByteArray("\xFF\xFE") +
           QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

void tst_PrivateProfile::fileEncoding_isReadAndWrittenBack_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("value");    // of key k, in UTF-8
    QTest::addColumn<QByteArray>("written");  // to key new
    QTest::addColumn<QByteArray>("readBack"); // key new, in UTF-8
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("UTF-16LE") << utf16(QStringLiteral("[s]\r\nk=v\r\n")) << QByteArray("v")
                              << QByteArray("\xC3\xA9") << QByteArray("\xC3\xA9")
                              << utf16(QStringLiteral("[s]\r\nk=v\r\nnew=\u00E9\r\n"));
    QTest::newRow("Windows-1252") << QByteArray("[s]\nk=caf\xE9\n") << QByteArray("caf\xC3\xA9")
                                  << QByteArray("\xE2\x82\xAC") << QByteArray("\xE2\x82\xAC")
                                  << QByteArray("[s]\nk=caf\xE9\nnew=\x80\n");
    QTest::newRow("Windows-1252, its undefined bytes kept")
        << QByteArray("[s]\nk=\x81\x8D\x8F\x90\x9D\n")
        << QByteArray("\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D") << QByteArray("x")
        << QByteArray("x") << QByteArray("[s]\nk=\x81\x8D\x8F\x90\x9D\nnew=x\n");
    QTest::newRow("Windows-1252 given a character it lacks becomes UTF-8")
        << QByteArray("[s]\nk=caf\xE9\n") << QByteArray("caf\xC3\xA9") << QByteArray("\xE2\x98\xBA")
        << QByteArray("\xE2\x98\xBA") << QByteArray("[s]\nk=caf\xC3\xA9\nnew=\xE2\x98\xBA\n");
    QTest::newRow("Windows-1252 that would read as UTF-16LE becomes UTF-8")
        << QByteArray("\xFF\xFE\n[s]\nk=v\n") << QByteArray("v") << QByteArray("ab")
        << QByteArray("ab") << QByteArray("\xC3\xBF\xC3\xBE\n[s]\nk=v\nnew=ab\n");
    QTest::newRow("UTF-8 with a byte-order mark")
        << QByteArray("\xEF\xBB\xBF[s]\nk=\xC3\xA9\n") << QByteArray("\xC3\xA9") << QByteArray("x")
        << QByteArray("x") << QByteArray("\xEF\xBB\xBF[s]\nk=\xC3\xA9\nnew=x\n");
    QTest::newRow("byte-order mark, then Windows-1252")
        << QByteArray("\xEF\xBB\xBF[s]\nk=\xE9\n") << QByteArray("\xC3\xA9")
        << QByteArray("\xC3\xA9") << QByteArray("\xC3\xA9")
        << QByteArray("\xEF\xBB\xBF[s]\nk=\xE9\nnew=\xE9\n");
    QTest::newRow("caller's text that is no UTF-8 is Windows-1252")
        << QByteArray("[s]\nk=v\n") << QByteArray("v") << QByteArray("caf\xE9")
        << QByteArray("caf\xC3\xA9") << QByteArray("[s]\nk=v\nnew=caf\xC3\xA9\n");
}

void tst_PrivateProfile::fileEncoding_isReadAndWrittenBack()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, readBack);
    QFETCH(QByteArray, after);

    const QString file = dir_.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".ini");
    putFile(file, before);
    QCOMPARE(get("s", "k", kAbsent, 255, file).bytes.left(value.size() + 1), value + '\0');
    QCOMPARE(WritePrivateProfileStringA("s", "new", written.constData(), file.toLocal8Bit()), 1);
    QCOMPARE(fileBytes(file), after);
    // What a fresh reader makes of the bytes on disk, not only of the store's own copy.
    const auto document = profile::IniDocument::parse(fileBytes(file).toStdString());
    QVERIFY(document.value("s", "new") && document.value("s", "k"));
    QCOMPARE(QByteArray::fromStdString(*document.value("s", "new")), readBack);
    QCOMPARE(QByteArray::fromStdString(*document.value("s", "k")), value);
}

void tst_PrivateProfile::writtenValue_readsBackUnchanged_data()
{
    QTest::addColumn<QByteArray>("value");
    const char* values[] = {"",
                            " lead",
                            "trail ",
                            "\"quoted\"",
                            "'single'",
                            "\"",
                            "'",
                            "a=b=c",
                            "; not a comment",
                            "# hash",
                            "[not section]",
                            "\tab\t",
                            "grüße ☺",
                            "\"open",
                            "close'",
                            "\xc3\xbf\xc3\xbe bytes"};
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
