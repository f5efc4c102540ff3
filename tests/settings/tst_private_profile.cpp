#include "TestFiles.h"
#include "settings/ini_document.h"
#include "settings/private_profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

QByteArray valueOf(const QString& path)
{
    const Read read = get("s", "k", kAbsent, 255, path);
    return read.bytes.left(read.count);
}

struct stat statusOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info;
}

// Runs `work` as user "nobody" when we are root, for whom permissions do not hold, else as
// ourselves; returns its result (0 to 125).
int asUnprivileged(const std::function<int()>& work)
{
    if (::geteuid() != 0)
        return work();
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return 126;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0)
            ::_exit(126);
        ::_exit(work());
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)
               ? WEXITSTATUS(status)
               : 127;
}

} // namespace

class tst_PrivateProfile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void missingFile_readsDefaultsAndEmptyLists();
    void forEachValue_readsAsEachKeyReads_data();
    void forEachValue_readsAsEachKeyReads();
    void write_data();
    void write();
    void fileEncoding_isReadAndWrittenBack_data();
    void fileEncoding_isReadAndWrittenBack();
    void writtenValue_readsBackUnchanged_data();
    void writtenValue_readsBackUnchanged();
    void externalChange_isNoticed();
    void batch_reachesDiskOnlyOnCommit();
    void manyKeys_eachFoundInAnyCase();
    void batch_failedCommit_keepsOldFile();
    void directoryInPlaceOfFile_readsNothingAndRefusesWrites();
    void readError_saysWhyTheFileCouldNotBeRead_data();
    void readError_saysWhyTheFileCouldNotBeRead();
    void sameSizeRewrite_isRead();
    void rewriteSharingABeginning_isRead_data();
    void rewriteSharingABeginning_isRead();
    void textReadOnAnotherThread_servesOnlyWhileTheFileHoldsIt_data();
    void textReadOnAnotherThread_servesOnlyWhileTheFileHoldsIt();
    void batch_withARefusedWrite_savesNothing_data();
    void batch_withARefusedWrite_savesNothing();
    void batch_keepBackup_keepsTheFileAsItWas();
    void save_keepsWhatTheFileIs_data();
    void save_keepsWhatTheFileIs();
    void save_keepsOwnerAndGroup();
    void save_thatCannotReplace_writesInPlace_data();
    void save_thatCannotReplace_writesInPlace();
    void save_removesOnlyOurStaleTemporaries();

private:
    // Each test and each row gets a folder of its own.
    std::unique_ptr<QTemporaryDir> dir_;
    QString path() const { return dir_->filePath(QStringLiteral("k.ini")); }
};

void tst_PrivateProfile::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
}

void tst_PrivateProfile::missingFile_readsDefaultsAndEmptyLists()
{
    const QString missing = dir_->filePath(QStringLiteral("none.ini"));
    QCOMPARE(get("s", "k", "dflt", 255, missing).bytes.left(5), QByteArray("dflt\0", 5));
    QCOMPARE(get("s", kAbsent, kAbsent, 255, missing).count, 0);
    QCOMPARE(get(kAbsent, kAbsent, kAbsent, 255, missing).count, 0);
    QVERIFY(!QFile::exists(missing));
}

void tst_PrivateProfile::forEachValue_readsAsEachKeyReads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<QByteArrayList>("keys");

    const QByteArray quoted = "[s]\n a = \"x y\" \nb='z'\nc=\"\"\nd=\"open\n";
    QTest::newRow("blanks and quotes")
        << quoted << QByteArray(" S ") << 255 << QByteArrayList{"a", "b", "c", "d"};
    QTest::newRow("quoted, cut short")
        << quoted << QByteArray("s") << 4 << QByteArrayList{"a", "b", "c", "d"};
    QTest::newRow("quoted, a buffer of one byte")
        << quoted << QByteArray("s") << 1 << QByteArrayList{"a", "b", "c", "d"};
    QTest::newRow("the first of each name, comments and keys without a value")
        << QByteArray("[s]\nk=1\nK=2\nbare\nbare=3\n;note=4\nempty=\n") << QByteArray("s") << 255
        << QByteArrayList{"k", "bare", ";note", "empty"};
    QTest::newRow("the first section of that name")
        << QByteArray("[s]\na=1\n[t]\nb=2\n[S]\na=3\nc=4\n") << QByteArray("s") << 255
        << QByteArrayList{"a"};
    QTest::newRow("254 bytes, a character cut") << "[s]\nlong=" + QByteArray(253, 'x') + "\u00e9\n"
                                                << QByteArray("s") << 255 << QByteArrayList{"long"};
    QTest::newRow("no such section")
        << QByteArray("[s]\na=1\n") << QByteArray("t") << 255 << QByteArrayList{};
}

void tst_PrivateProfile::forEachValue_readsAsEachKeyReads()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(int, bufferSize);
    QFETCH(QByteArrayList, keys);
    putFile(path(), file);
    const auto size = static_cast<std::uint32_t>(bufferSize);

    QByteArrayList names;
    QByteArrayList values;
    profile::forEachValue(section.constData(), size, path().toLocal8Bit(),
                          [&](std::string_view key, std::string_view value) {
                              names << QByteArray(key.data(), qsizetype(key.size()));
                              values << QByteArray(value.data(), qsizetype(value.size()));
                          });
    QCOMPARE(names, keys);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const Read read = get(section, names[i], "", size, path());
        QCOMPARE(values[i], read.bytes.left(read.count));
    }
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
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), after.isNull() ? 0 : 1);
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

    const QString file = dir_->filePath(QString::fromLatin1(QTest::currentDataTag()) + ".ini");
    putFile(file, before);
    QCOMPARE(get("s", "k", kAbsent, 255, file).bytes.left(value.size() + 1), value + '\0');
    QCOMPARE(WritePrivateProfileStringA("s", "new", written.constData(), file.toLocal8Bit()), 1);
    QCOMPARE(fileBytes(file), after);
    // What a fresh reader makes of the bytes on disk, not only of the store's own copy.
    const auto document = profile::IniDocument::parse(fileBytes(file).toStdString());
    QVERIFY(document.value("s", "new") && document.value("s", "k"));
    QCOMPARE(QByteArray::fromStdString(std::string(*document.value("s", "new"))), readBack);
    QCOMPARE(QByteArray::fromStdString(std::string(*document.value("s", "k"))), value);
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
    const std::optional<std::string_view> onDisk = document.value("s", "k");
    QVERIFY(onDisk);
    QCOMPARE(QByteArray::fromStdString(std::string(*onDisk)), value);
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

void tst_PrivateProfile::manyKeys_eachFoundInAnyCase()
{
    // Enough keys that the section's index grows many times while they are written.
    constexpr int kKeys = 3000;
    const QByteArray file = path().toLocal8Bit();
    const auto readAll = [&](const char* when) {
        for (int i = 0; i < kKeys; ++i) {
            const QByteArray n = QByteArray::number(i);
            const QByteArray expected = i % 3 == 0 ? QByteArray() : (i % 7 == 0 ? "w" : "v") + n;
            const Read read = get("s", "kEY" + n, "", 255, path());
            if (read.bytes.left(read.count) != expected)
                QFAIL(qPrintable(QStringLiteral("%1: key%2").arg(QLatin1String(when)).arg(i)));
        }
        const Read list = get("s", kAbsent, "", 1 << 16, path());
        QCOMPARE(list.bytes.left(list.count).count('\0'), kKeys - (kKeys + 2) / 3);
    };
    {
        profile::Batch batch(path().toStdString());
        for (int i = 0; i < kKeys; ++i)
            QCOMPARE(WritePrivateProfileStringA("s", "Key" + QByteArray::number(i),
                                                "v" + QByteArray::number(i), file),
                     1);
        for (int i = 0; i < kKeys; i += 7)
            QCOMPARE(WritePrivateProfileStringA("s", "KEY" + QByteArray::number(i),
                                                "w" + QByteArray::number(i), file),
                     1);
        for (int i = 0; i < kKeys; i += 3)
            QCOMPARE(WritePrivateProfileStringA("s", "key" + QByteArray::number(i), nullptr, file),
                     1);
        readAll("in the batch");
        QVERIFY(batch.commit());
    }
    readAll("read from the file");
}

void tst_PrivateProfile::batch_failedCommit_keepsOldFile()
{
    QDir base(dir_->path());
    QVERIFY(base.mkpath(QStringLiteral("gone")));
    const QString inside = dir_->filePath(QStringLiteral("gone/k.ini"));
    putFile(inside, "[s]\nk=old\n");
    profile::Batch batch(inside.toStdString());
    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", inside.toLocal8Bit()), 1);
    QVERIFY(base.rename(QStringLiteral("gone"), QStringLiteral("moved")));
    QVERIFY(!batch.commit());
    QCOMPARE(fileBytes(dir_->filePath(QStringLiteral("moved/k.ini"))), QByteArray("[s]\nk=old\n"));
    QCOMPARE(QDir(dir_->filePath(QStringLiteral("moved"))).entryList(QDir::Files).size(), 1);
}

void tst_PrivateProfile::directoryInPlaceOfFile_readsNothingAndRefusesWrites()
{
    const QString folder = dir_->filePath(QStringLiteral("folder.ini"));
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
    // Never opened: opening a FIFO with nobody writing to it would wait forever.
    QTest::newRow("a FIFO") << "fifo" << EINVAL;
    QTest::newRow("a socket") << "socket" << EINVAL;
    QTest::newRow("a link to a device") << "device" << EINVAL;
}

void tst_PrivateProfile::readError_saysWhyTheFileCouldNotBeRead()
{
    QFETCH(QString, kind);
    QFETCH(int, error);
    const QString file = dir_->filePath(kind + QStringLiteral(".ini"));
    if (kind != QStringLiteral("missing") && !makeNonRegularFile(file, kind))
        putFile(file, kind == QStringLiteral("empty") ? QByteArray() : QByteArray("[s]\nk=v\n"));
    if (kind == QStringLiteral("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads any file; the built program's test covers this as another user");
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
    }
    struct stat before {};
    ::lstat(file.toLocal8Bit().constData(), &before);
    QCOMPARE(profile::readError(file.toStdString()), error);
    if (error == 0)
        return;
    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", file.toLocal8Bit()), 0);
    profile::Batch batch(file.toStdString());
    QCOMPARE(WritePrivateProfileStringA("s", nullptr, nullptr, file.toLocal8Bit()), 0);
    QVERIFY(!batch.commit());
    QCOMPARE(batch.outcome().error, error);
    struct stat after {};
    ::lstat(file.toLocal8Bit().constData(), &after);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
}

void tst_PrivateProfile::sameSizeRewrite_isRead()
{
    // Rewrites of one size follow each other within one tick of the file system's clock.
    for (int round = 0; round < 500; ++round) {
        const QByteArray value = QByteArray::number(100000 + round);
        putFile(path(), "[s]\nk=" + value + "\n");
        QCOMPARE(valueOf(path()), value);
    }
}

namespace {

// Longer than one read of the file, so that a rewrite can part from it after the first piece.
const QByteArray kLongComment = ';' + QByteArray(100000, '-') + '\n';

} // namespace

void tst_PrivateProfile::rewriteSharingABeginning_isRead_data()
{
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("keys");

    const QByteArray start = "[s]\nk=1\n" + kLongComment;
    QTest::newRow("grown") << start + "k2=2\nk4=4\n"
                           << QByteArray("1") << QByteArray("k\0k2\0k4\0", 8);
    QTest::newRow("cut") << start.left(70000) << QByteArray("1") << QByteArray("k\0", 2);
    QTest::newRow("emptied") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("changed late") << start + "k3=2\n"
                                  << QByteArray("1") << QByteArray("k\0k3\0", 5);
}

void tst_PrivateProfile::rewriteSharingABeginning_isRead()
{
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, keys);
    putFile(path(), "[s]\nk=1\n" + kLongComment + "k2=2\n");
    QCOMPARE(valueOf(path()), QByteArray("1"));
    putFile(path(), after);
    QCOMPARE(valueOf(path()), value);
    const Read list = get("s", kAbsent, "", 255, path());
    QCOMPARE(list.bytes.left(list.count), keys);
}

void tst_PrivateProfile::textReadOnAnotherThread_servesOnlyWhileTheFileHoldsIt_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("value");

    const QByteArray text = "[s]\nk=1\n" + kLongComment;
    QTest::newRow("unchanged") << text << text << QByteArray("1");
    QTest::newRow("same size") << text << "[s]\nk=2\n" + kLongComment << QByteArray("2");
    QTest::newRow("grown") << text << text + "k=3\n" << QByteArray("1");
    QTest::newRow("cut") << text << text.left(6) << QByteArray("");
    QTest::newRow("emptied") << text << QByteArray() << QByteArray();
    QTest::newRow("was empty") << QByteArray() << QByteArray("[s]\nk=4\n") << QByteArray("4");
}

void tst_PrivateProfile::textReadOnAnotherThread_servesOnlyWhileTheFileHoldsIt()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, value);
    putFile(path(), before);
    QByteArray readThere;
    std::optional<profile::FileText> text;
    std::thread([&] {
        readThere = valueOf(path());
        text = profile::takeLastText();
    }).join();
    QCOMPARE(readThere, before.isEmpty() ? QByteArray() : QByteArray("1"));
    QVERIFY(text);
    const std::shared_ptr<const std::string> bytes = text->bytes;
    profile::useAsLastText(std::move(*text));
    putFile(path(), after);
    profile::Batch batch(path().toStdString());
    QCOMPARE(batch.holds(bytes), before == after);
    QCOMPARE(valueOf(path()), value);
}

void tst_PrivateProfile::batch_withARefusedWrite_savesNothing_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("CR in a value") << QByteArray("k") << QByteArray("x\r");
    QTest::newRow("LF in a value") << QByteArray("k") << QByteArray("x\ny");
    QTest::newRow("equals sign in a key") << QByteArray("k=j") << QByteArray("x");
}

void tst_PrivateProfile::batch_withARefusedWrite_savesNothing()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    const QByteArray before = "[keep]\nk=v\n[s]\nk=old\nj=2\n";
    putFile(path(), before);
    const QByteArray file = path().toLocal8Bit();
    profile::Batch batch(path().toStdString());
    QCOMPARE(WritePrivateProfileStringA("s", nullptr, nullptr, file), 1);
    QCOMPARE(WritePrivateProfileStringA("s", "a", "1", file), 1);
    QCOMPARE(WritePrivateProfileStringA("s", key, value, file), 0);
    QCOMPARE(WritePrivateProfileStringA("s", "b", "2", file), 1);
    QVERIFY(!batch.commit());
    QCOMPARE(batch.outcome().error, EILSEQ);
    QCOMPARE(batch.outcome().file, profile::SaveOutcome::File::Untouched);
    QCOMPARE(fileBytes(path()), before);
    QCOMPARE(valueOf(path()), QByteArray("old"));
}

void tst_PrivateProfile::batch_keepBackup_keepsTheFileAsItWas()
{
    const std::string file = path().toStdString();
    const QString backup = path() + QStringLiteral(".bak");
    putFile(path(), "[s]\nk=first\n");
    {
        profile::Batch unchanged(file);
        unchanged.keepBackup();
        QCOMPARE(WritePrivateProfileStringA("s", "k", "first", file.c_str()), 1);
        QVERIFY(unchanged.commit());
    }
    QVERIFY(!QFile::exists(backup));
    for (const char* value : {"second", "third"}) {
        profile::Batch batch(file);
        batch.keepBackup();
        QCOMPARE(WritePrivateProfileStringA("s", "k", value, file.c_str()), 1);
        QVERIFY(batch.commit());
        QCOMPARE(QString::fromStdString(batch.outcome().backup), backup);
    }
    QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=third\n"));
    QCOMPARE(fileBytes(backup), QByteArray("[s]\nk=second\n"));
    QCOMPARE(fileBytes(backup + QStringLiteral(".1")), QByteArray("[s]\nk=first\n"));
}

void tst_PrivateProfile::save_keepsWhatTheFileIs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("mode"); // of the file before the save
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("modeAfter");

    QTest::newRow("mode 0600 kept") << "file" << 0600 << 022 << 1 << 0600;
    QTest::newRow("mode 0664 kept under umask 077") << "file" << 0664 << 077 << 1 << 0664;
    QTest::newRow("no write bit: read-only, also for root") << "file" << 0444 << 022 << 0 << 0444;
    QTest::newRow("new file, umask 022") << "new" << 0 << 022 << 1 << 0644;
    QTest::newRow("new file, umask 077") << "new" << 0 << 077 << 1 << 0600;
    QTest::newRow("hard link: both names see the save") << "hard link" << 0640 << 022 << 1 << 0640;
    QTest::newRow("dangling link: its target is made") << "dangling link" << 0 << 022 << 1 << 0644;
    QTest::newRow("link into a missing folder") << "link into nowhere" << 0 << 022 << 0 << 0;
}

void tst_PrivateProfile::save_keepsWhatTheFileIs()
{
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(int, mask);
    QFETCH(int, result);
    QFETCH(int, modeAfter);
    const QString other = dir_->filePath(QStringLiteral("other.ini"));
    const QByteArray before = "[s]\nk=old\n";
    const QByteArray file = QFile::encodeName(path());
    if (kind == QStringLiteral("file") || kind == QStringLiteral("hard link")) {
        putFile(path(), before);
        QCOMPARE(::chmod(file, static_cast<mode_t>(mode)), 0);
    }
    if (kind == QStringLiteral("hard link"))
        QCOMPARE(::link(file, QFile::encodeName(other)), 0);
    if (kind == QStringLiteral("dangling link"))
        QCOMPARE(::symlink("other.ini", file), 0);
    if (kind == QStringLiteral("link into nowhere"))
        QCOMPARE(::symlink("missing/other.ini", file), 0);

    const mode_t oldMask = ::umask(static_cast<mode_t>(mask));
    const int written = WritePrivateProfileStringA("s", "k", "new", file);
    ::umask(oldMask);
    QCOMPARE(written, result);
    if (kind.endsWith(QStringLiteral("link")) || kind.endsWith(QStringLiteral("nowhere")))
        QCOMPARE(QFileInfo(path()).isSymLink(), kind != QStringLiteral("hard link"));
    if (result == 0) {
        QCOMPARE(fileBytes(path()), kind == QStringLiteral("file") ? before : QByteArray());
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::System).size(), 1);
    } else {
        QCOMPARE(valueOf(path()), QByteArray("new"));
        QCOMPARE(static_cast<int>(statusOf(path()).st_mode & 07777), modeAfter);
    }
    if (kind == QStringLiteral("hard link")) {
        QCOMPARE(fileBytes(other), fileBytes(path()));
        QCOMPARE(statusOf(other).st_ino, statusOf(path()).st_ino);
    }
}

void tst_PrivateProfile::save_keepsOwnerAndGroup()
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        QSKIP("giving a file to another user needs root and a user \"nobody\"");
    putFile(path(), "[s]\nk=old\n");
    const QByteArray file = QFile::encodeName(path());
    QCOMPARE(::chown(file, nobody->pw_uid, nobody->pw_gid), 0);
    QCOMPARE(::chmod(file, 0640), 0);
    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", file), 1);
    QCOMPARE(valueOf(path()), QByteArray("new"));
    const struct stat after = statusOf(path());
    QCOMPARE(after.st_uid, nobody->pw_uid);
    QCOMPARE(after.st_gid, nobody->pw_gid);
    QCOMPARE(after.st_mode & 07777, mode_t(0640));
}

void tst_PrivateProfile::save_thatCannotReplace_writesInPlace_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<int>("why");
    QTest::newRow("folder not writable")
        << false << static_cast<int>(profile::SaveOutcome::InPlace::FolderNotWritable);
    QTest::newRow("owner that a new file cannot have")
        << true << static_cast<int>(profile::SaveOutcome::InPlace::OwnerKept);
}

void tst_PrivateProfile::save_thatCannotReplace_writesInPlace()
{
    QFETCH(bool, folderWritable);
    QFETCH(int, why);
    const passwd* nobody = ::getpwnam("nobody");
    const bool root = ::geteuid() == 0;
    if (root && !nobody)
        QSKIP("needs a user \"nobody\" to save as");
    if (folderWritable && !root)
        QSKIP("only root can make a file of another user, which we may write");
    const QString folder = dir_->filePath(QStringLiteral("app"));
    const QString inside = folder + QStringLiteral("/k.ini");
    QVERIFY(QDir().mkpath(folder));
    putFile(inside, "[s]\nk=old\n");
    const QByteArray file = QFile::encodeName(inside);
    QCOMPARE(::chmod(QFile::encodeName(dir_->path()), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder), folderWritable ? 0777 : 0555), 0);
    QCOMPARE(::chmod(file, 0666), 0);
    if (root && !folderWritable)
        QCOMPARE(::chown(file, nobody->pw_uid, nobody->pw_gid), 0);
    const struct stat before = statusOf(inside);

    const int result = asUnprivileged([&] {
        profile::Batch batch(file.toStdString());
        WritePrivateProfileStringA("s", "k", "new", file);
        return batch.commit() ? static_cast<int>(batch.outcome().inPlace) : 100;
    });
    ::chmod(QFile::encodeName(folder), 0755);
    QCOMPARE(result, why);
    QCOMPARE(fileBytes(inside), QByteArray("[s]\nk=new\n"));
    const struct stat after = statusOf(inside);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
}

void tst_PrivateProfile::save_removesOnlyOurStaleTemporaries()
{
    putFile(path(), "[s]\nk=old\n");
    const QDir folder(dir_->path());
    for (const char* stale : {"k.ini.Ab3xYz", "k.ini.00Q000"})
        putFile(folder.filePath(QString::fromLatin1(stale)), "[s]\nk=stale\n");
    QStringList kept = {QStringLiteral("k.ini"),           QStringLiteral("k.ini.backup"),
                        QStringLiteral("k.ini.Ab3xY"),     QStringLiteral("k.ini.Ab3xYz1"),
                        QStringLiteral("k.ini.Ab-xY1"),    QStringLiteral("k.ini.orig12"),
                        QStringLiteral("other.ini.Ab3xYz")};
    for (const QString& name : kept.mid(1))
        putFile(folder.filePath(name), "[s]\nk=mine\n");
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("k.ini.Cd4eFg"))));
    QCOMPARE(::symlink("k.ini", QFile::encodeName(folder.filePath(QStringLiteral("k.ini.Gh5iJk")))),
             0);
    // A save that is still writing its temporary holds a lock on it.
    QFile busy(folder.filePath(QStringLiteral("k.ini.Lm6nOp")));
    QVERIFY(busy.open(QIODevice::WriteOnly));
    QCOMPARE(::flock(busy.handle(), LOCK_EX), 0);
    kept << QStringLiteral("k.ini.Cd4eFg") << QStringLiteral("k.ini.Gh5iJk")
         << QStringLiteral("k.ini.Lm6nOp");
    if (const passwd* nobody = ::getpwnam("nobody"); nobody && ::geteuid() == 0) {
        const QString foreign = folder.filePath(QStringLiteral("k.ini.Qr7sTu"));
        putFile(foreign, "[s]\nk=theirs\n");
        QCOMPARE(::chown(QFile::encodeName(foreign), nobody->pw_uid, nobody->pw_gid), 0);
        kept << QStringLiteral("k.ini.Qr7sTu");
    }

    QCOMPARE(WritePrivateProfileStringA("s", "k", "new", path().toLocal8Bit()), 1);
    QStringList left = folder.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    left.sort();
    kept.sort();
    QCOMPARE(left, kept);
}

QTEST_GUILESS_MAIN(tst_PrivateProfile)
#include "tst_private_profile.moc"
