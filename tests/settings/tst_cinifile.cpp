#include "TestFiles.h"
#include "settings/cIniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

} // namespace

class tst_cIniFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void newObject_isUnsetAndUnsuccessful();
    void read_data();
    void read();
    void write_data();
    void write();
    void nulCharacters_areRemovedWherever();
    void success_followsWritesNotReads();
    void enumerateCurrentSection_data();
    void enumerateCurrentSection();
    void allKeys_isNotBoundByTheListBuffer();
    void allKeys_seesPastAnEmptyFirstName();
    void clngDefault_data();
    void clngDefault();

private:
    QString path() const { return dir_->filePath(QStringLiteral("k.ini")); }
    cIniFile iniOn(const QString& section) const
    {
        cIniFile ini;
        ini.setPath(path());
        ini.setSection(section);
        return ini;
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_cIniFile::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
}

void tst_cIniFile::newObject_isUnsetAndUnsuccessful()
{
    const cIniFile ini;
    QCOMPARE(ini.LastReturnCode(), 0);
    QVERIFY(!ini.Success());
    QVERIFY(!ini.Path() && !ini.Section() && !ini.Key() && !ini.Default());
}

void tst_cIniFile::read_data()
{
    QTest::addColumn<cIniFile::OptionalText>("key");
    QTest::addColumn<cIniFile::OptionalText>("fallback");
    QTest::addColumn<QString>("expected");

    const cIniFile::OptionalText unset;
    QTest::newRow("stored") << cIniFile::OptionalText(QStringLiteral("k")) << unset
                            << QStringLiteral("grüße");
    QTest::newRow("missing, default unset")
        << cIniFile::OptionalText(QStringLiteral("x")) << unset << QString();
    QTest::newRow("missing, default set")
        << cIniFile::OptionalText(QStringLiteral("x"))
        << cIniFile::OptionalText(QStringLiteral("FAIL")) << QStringLiteral("FAIL");
    QTest::newRow("empty key is a missing key")
        << cIniFile::OptionalText(QString()) << unset << QString();
    QTest::newRow("unset key lists the section")
        << unset << unset
        << QStringLiteral("k") + QChar(0) + QStringLiteral("long") + QChar(0) +
               QStringLiteral("wide") + QChar(0);
    QTest::newRow("cut to 254") << cIniFile::OptionalText(QStringLiteral("long")) << unset
                                << QString(254, u'x');
    QTest::newRow("cut to 254 bytes, never inside a character")
        << cIniFile::OptionalText(QStringLiteral("wide")) << unset << QString(253, u'x');
}

void tst_cIniFile::read()
{
    QFETCH(cIniFile::OptionalText, key);
    QFETCH(cIniFile::OptionalText, fallback);
    QFETCH(QString, expected);

    putFile(path(), "[s]\nk=gr\xC3\xBC\xC3\x9F"
                    "e\nlong=" +
                        QByteArray(300, 'x') + "\nwide=" + QByteArray(253, 'x') +
                        "\xC3\xA9\xC3\xA9\n");
    cIniFile ini = iniOn(QStringLiteral("s"));
    ini.setKey(key);
    ini.setDefault(fallback);
    QCOMPARE(ini.Value(), expected);
    QCOMPARE(ini.LastReturnCode(), 0);
}

void tst_cIniFile::write_data()
{
    QTest::addColumn<cIniFile::OptionalText>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("text") << cIniFile::OptionalText(QStringLiteral("a \"b\" = c"))
                          << QByteArray("[s]\nk=a \"b\" = c\nj=2\n");
    QTest::newRow("empty text keeps the key")
        << cIniFile::OptionalText(QString()) << QByteArray("[s]\nk=\nj=2\n");
    QTest::newRow("unset removes the key") << cIniFile::OptionalText() << QByteArray("[s]\nj=2\n");
}

void tst_cIniFile::write()
{
    QFETCH(cIniFile::OptionalText, value);
    QFETCH(QByteArray, after);

    putFile(path(), "[s]\nk=1\nj=2\n");
    cIniFile ini = iniOn(QStringLiteral("s"));
    ini.setKey(QStringLiteral("k"));
    ini.setValue(value);
    QVERIFY(ini.Success());
    QCOMPARE(fileBytes(path()), after);
}

void tst_cIniFile::nulCharacters_areRemovedWherever()
{
    cIniFile ini = iniOn(QStringLiteral("s"));
    ini.setKey(QStringLiteral("k"));
    ini.setValue(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QCOMPARE(ini.Value(), QStringLiteral("ab"));

    QString far(40000, u'y');
    far.insert(35000, QChar(0));
    far.append(QChar(0));
    ini.setValue(far);
    QVERIFY(ini.Success());
    QCOMPARE(fileBytes(path()), QByteArray("[s]\nk=") + QByteArray(40000, 'y') + "\n");
}

void tst_cIniFile::success_followsWritesNotReads()
{
    cIniFile ini = iniOn(QStringLiteral("s"));
    ini.setKey(QStringLiteral("k"));
    ini.setValue(QStringLiteral("v"));
    QVERIFY(ini.Success());
    ini.setKey(QStringLiteral("missing"));
    QCOMPARE(ini.Value(), QString());
    QVERIFY(ini.Success());

    ini.setPath(dir_->filePath(QStringLiteral("no/such/dir/k.ini")));
    ini.setValue(QStringLiteral("v"));
    QCOMPARE(ini.LastReturnCode(), 0);
    QVERIFY(!ini.Success());
    ini.setPath(path());
    QCOMPARE(ini.Value(), QString());
    QVERIFY(!ini.Success());

    ini.DeleteSection();
    QVERIFY(ini.Success());
    QStringList keys;
    std::int32_t count = -1;
    ini.EnumerateCurrentSection(keys, count);
    QCOMPARE(count, 0);
    QVERIFY(keys.isEmpty());
}

void tst_cIniFile::enumerateCurrentSection_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("three keys in order")
        << QByteArray("[pairs]\npattern0=a\ncommand0=b\nfocus0=1\n")
        << QStringList{QStringLiteral("pattern0"), QStringLiteral("command0"),
                       QStringLiteral("focus0")};
    QTest::newRow("empty key name is an element")
        << QByteArray("[pairs]\nk=b\n=a\n") << QStringList{QStringLiteral("k"), QString()};
    QTest::newRow("missing section") << QByteArray("[other]\nk=1\n") << QStringList{};

    // 1,000 names of 9 characters and a NUL fill 10,000 characters: only those that end,
    // with their NUL, within the first 8,190 are listed.
    QByteArray many = "[pairs]\n";
    QStringList listed;
    for (int i = 0; i < 1000; ++i) {
        const QByteArray name = QByteArray("key") + QByteArray::number(100000 + i);
        many += name + "=v\n";
        if ((i + 1) * 10 <= 8190)
            listed << QString::fromLatin1(name);
    }
    QTest::newRow("cut list") << many << listed;
}

void tst_cIniFile::enumerateCurrentSection()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);

    putFile(path(), file);
    const cIniFile ini = iniOn(QStringLiteral("pairs"));
    QStringList keys{QStringLiteral("stale")};
    std::int32_t count = -1;
    ini.EnumerateCurrentSection(keys, count);
    QCOMPARE(keys, expected);
    QCOMPARE(count, expected.size());
}

void tst_cIniFile::allKeys_isNotBoundByTheListBuffer()
{
    QByteArray many = "[pairs]\n";
    for (int i = 0; i < 5000; ++i)
        many += "pattern" + QByteArray::number(i) + "=v\n";
    putFile(path(), many);
    const QStringList keys = iniOn(QStringLiteral("pairs")).AllKeys();
    QCOMPARE(keys.size(), 5000);
    QCOMPARE(keys.last(), QStringLiteral("pattern4999"));
}

void tst_cIniFile::allKeys_seesPastAnEmptyFirstName()
{
    // A key list read gives the default for it; the pair table must see the keys after it.
    putFile(path(), "[pairs]\n=stray\npattern0=a\ncommand0=b\n");
    QCOMPARE(iniOn(QStringLiteral("pairs")).AllKeys(),
             (QStringList{QString(), QStringLiteral("pattern0"), QStringLiteral("command0")}));
}

void tst_cIniFile::clngDefault_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fallback");
    QTest::addColumn<int>("expected");

    QTest::newRow("plain") << QStringLiteral("42") << 9 << 42;
    QTest::newRow("negative with blanks") << QStringLiteral("  -7 \t") << 9 << -7;
    QTest::newRow("plus sign") << QStringLiteral("+8") << 9 << 8;
    QTest::newRow("half to even, down") << QStringLiteral("2.5") << 9 << 2;
    QTest::newRow("half to even, up") << QStringLiteral("3.5") << 9 << 4;
    QTest::newRow("above half") << QStringLiteral("2.51") << 9 << 3;
    QTest::newRow("negative half") << QStringLiteral("-2.5") << 9 << -2;
    QTest::newRow("leading point") << QStringLiteral(".7") << 9 << 1;
    QTest::newRow("leading zeros") << QStringLiteral("000000000000000000000012") << 9 << 12;
    QTest::newRow("largest") << QStringLiteral("2147483647") << 9 << 2147483647;
    QTest::newRow("smallest") << QStringLiteral("-2147483648") << 9 << int(-2147483648LL);
    QTest::newRow("rounds past largest") << QStringLiteral("2147483647.5") << 9 << 9;
    QTest::newRow("beyond largest") << QStringLiteral("2147483648") << 9 << 9;
    QTest::newRow("far beyond") << QStringLiteral("99999999999999999999999") << 9 << 9;
    QTest::newRow("empty") << QString() << 9 << 9;
    QTest::newRow("blanks only") << QStringLiteral("   ") << 9 << 9;
    QTest::newRow("letters") << QStringLiteral("abc") << 9 << 9;
    QTest::newRow("letters, default omitted") << QStringLiteral("abc") << 0 << 0;
    QTest::newRow("inner blank") << QStringLiteral("1 2") << 9 << 9;
    QTest::newRow("sign alone") << QStringLiteral("-") << 9 << 9;
    QTest::newRow("point alone") << QStringLiteral(".") << 9 << 9;
    QTest::newRow("FAIL") << QStringLiteral("FAIL") << 9 << 9;
}

void tst_cIniFile::clngDefault()
{
    QFETCH(QString, text);
    QFETCH(int, fallback);
    QFETCH(int, expected);
    QCOMPARE(fallback == 0 ? cIniFile::CLngDefault(text) : cIniFile::CLngDefault(text, fallback),
             expected);
}

QTEST_GUILESS_MAIN(tst_cIniFile)
#include "tst_cinifile.moc"
