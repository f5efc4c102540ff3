#include "TestFiles.h"
#include "settings/cIniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

} // namespace

class tst_cIniFileSections : public QObject {
    Q_OBJECT

private slots:
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }
    void enumerateAllSections_data();
    void enumerateAllSections();
    void iniSectionWrite_removesTheCurrentSection_data();
    void iniSectionWrite_removesTheCurrentSection();

private:
    QString path() const { return dir_->filePath(QStringLiteral("k.ini")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_cIniFileSections::enumerateAllSections_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no file
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("pairs and one more")
        << QByteArray("[pairs]\npattern0=a\n[window]\nLeft=1\n") << QStringList{"pairs", "window"};
    QTest::newRow("no file") << QByteArray() << QStringList{};
    QTest::newRow("empty file") << QByteArray("") << QStringList{};
    QTest::newRow("empty name skipped")
        << QByteArray("[a]\n[]\nk=v\n[b]\n") << QStringList{"a", "b"};

    // 1,000 names of 9 characters and a NUL: the list is cut by the 8,192-character buffer,
    // and the name cut at the end is neither listed nor counted.
    QByteArray many;
    QStringList listed;
    for (int i = 0; i < 1000; ++i) {
        const QByteArray name = "sect" + QByteArray::number(10000 + i);
        many += "[" + name + "]\n";
        if ((i + 1) * 10 <= 8190)
            listed << QString::fromLatin1(name);
    }
    QTest::newRow("cut list") << many << listed;
}

void tst_cIniFileSections::enumerateAllSections()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);

    if (!file.isNull())
        putFile(path(), file);
    cIniFile ini;
    ini.setPath(path());
    ini.setSection(QStringLiteral("whatever"));
    ini.setKey(QStringLiteral("also ignored"));
    QStringList sections{QStringLiteral("stale")};
    std::int32_t count = -1;
    ini.EnumerateAllSections(sections, count);
    QCOMPARE(sections, expected);
    QCOMPARE(count, expected.size());
    QCOMPARE(ini.LastReturnCode(), 0);
}

void tst_cIniFileSections::iniSectionWrite_removesTheCurrentSection_data()
{
    QTest::addColumn<cIniFile::OptionalText>("text");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QByteArray>("after");

    const QByteArray others = "; top\n[one]\na=1\n\n[three]\nc=3\n";
    QTest::newRow("some text") << cIniFile::OptionalText(QStringLiteral("[new]\nx=1"))
                               << QStringLiteral("two") << others;
    QTest::newRow("empty text") << cIniFile::OptionalText(QString()) << QStringLiteral("TWO")
                                << others;
    QTest::newRow("unset text") << cIniFile::OptionalText() << QStringLiteral("two") << others;
    QTest::newRow("missing section")
        << cIniFile::OptionalText(QStringLiteral("x")) << QStringLiteral("four")
        << QByteArray("; top\n[one]\na=1\n\n[two]\nb=2\n\n[three]\nc=3\n");
}

void tst_cIniFileSections::iniSectionWrite_removesTheCurrentSection()
{
    QFETCH(cIniFile::OptionalText, text);
    QFETCH(QString, section);
    QFETCH(QByteArray, after);

    putFile(path(), "; top\n[one]\na=1\n\n[two]\nb=2\n\n[three]\nc=3\n");
    cIniFile ini;
    ini.setPath(path());
    ini.setSection(section);
    ini.setINISection(text);
    QVERIFY(ini.Success());
    QCOMPARE(fileBytes(path()), after);
    QStringList keys;
    std::int32_t count = -1;
    ini.EnumerateCurrentSection(keys, count);
    QCOMPARE(count, 0);
    QVERIFY(!ini.Sections().contains(section));
}

QTEST_GUILESS_MAIN(tst_cIniFileSections)
#include "tst_cinifile_sections.moc"
