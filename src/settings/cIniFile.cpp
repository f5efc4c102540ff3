#include "cIniFile.h"

#include "number_text.h"

#include <QByteArray>
#include <limits>
#include <vector>

namespace {

constexpr std::uint32_t kValueBufferSize = 255;
constexpr std::uint32_t kListBufferSize = 8192;

// Holds the 8-bit form of an optional text for as long as the store needs the pointer.
class NativeText {
public:
    explicit NativeText(const cIniFile::OptionalText& text)
        : present_(text.has_value()), bytes_(text ? text->toLocal8Bit() : QByteArray())
    {
    }
    const char* get() const { return present_ ? bytes_.constData() : nullptr; }

private:
    bool present_;
    QByteArray bytes_;
};

QString readThroughBuffer(const cIniFile::OptionalText& section, const cIniFile::OptionalText& key,
                          const cIniFile::OptionalText& defaultText,
                          const cIniFile::OptionalText& path, std::uint32_t bufferSize,
                          bool* wasCut = nullptr)
{
    std::vector<char> buffer(bufferSize, ' ');
    const std::int32_t count = profile::GetPrivateProfileStringA(
        NativeText(section).get(), NativeText(key).get(), NativeText(defaultText).get(),
        buffer.data(), bufferSize, NativeText(path).get());
    if (wasCut)
        *wasCut = bufferSize >= 2 && count == static_cast<std::int32_t>(bufferSize - 2);
    return QString::fromLocal8Bit(buffer.data(), count);
}

} // namespace

QString cIniFile::Value() const
{
    return readThroughBuffer(section_, key_, default_, path_, kValueBufferSize);
}

void cIniFile::setValue(const OptionalText& sValue)
{
    OptionalText cleaned = sValue;
    if (cleaned)
        cleaned->remove(QChar(u'\0'));
    lastReturnCode_ =
        profile::WritePrivateProfileStringA(NativeText(section_).get(), NativeText(key_).get(),
                                            NativeText(cleaned).get(), NativeText(path_).get());
}

void cIniFile::DeleteKey()
{
    lastReturnCode_ = profile::WritePrivateProfileStringA(
        NativeText(section_).get(), NativeText(key_).get(), nullptr, NativeText(path_).get());
}

void cIniFile::DeleteSection()
{
    lastReturnCode_ = profile::WritePrivateProfileStringA(NativeText(section_).get(), nullptr,
                                                          nullptr, NativeText(path_).get());
}

QString cIniFile::INISection() const
{
    return readThroughBuffer(section_, std::nullopt, default_, path_, kListBufferSize);
}

void cIniFile::EnumerateCurrentSection(QStringList& sKey, std::int32_t& iCount) const
{
    iCount = 0;
    sKey.clear();
    const QString list = INISection();
    qsizetype start = 0;
    for (qsizetype end = list.indexOf(QChar(u'\0')); end >= 0;
         end = list.indexOf(QChar(u'\0'), start)) {
        sKey.append(list.mid(start, end - start));
        ++iCount;
        start = end + 1;
    }
}

void cIniFile::setINISection(const OptionalText& sSection)
{
    // With the key absent the store removes the whole section and ignores the value.
    lastReturnCode_ = profile::WritePrivateProfileStringA(
        NativeText(section_).get(), nullptr, NativeText(sSection).get(), NativeText(path_).get());
}

QString cIniFile::Sections() const
{
    return readThroughBuffer(std::nullopt, std::nullopt, default_, path_, kListBufferSize);
}

void cIniFile::EnumerateAllSections(QStringList& sSections, std::int32_t& iCount) const
{
    iCount = 0;
    sSections.clear();
    const QString list = Sections();
    qsizetype start = 0;
    for (qsizetype end = list.indexOf(QChar(u'\0')); end >= 0;
         end = list.indexOf(QChar(u'\0'), start)) {
        if (end != start) {
            sSections.append(list.mid(start, end - start));
            ++iCount;
        }
        start = end + 1;
    }
}

QStringList cIniFile::AllKeys() const
{
    std::uint32_t bufferSize = kListBufferSize;
    bool cut = true;
    QString list;
    while (cut) {
        list = readThroughBuffer(section_, std::nullopt, default_, path_, bufferSize, &cut);
        bufferSize *= 4;
    }
    QStringList names = list.split(QChar(u'\0'));
    names.removeLast(); // the piece after the last NUL
    return names;
}

profile::Batch cIniFile::StartBatch() const
{
    return profile::Batch(path_.value_or(QString()).toLocal8Bit().toStdString());
}

std::int32_t cIniFile::CLngDefault(const QString& sString, std::int32_t lDefault)
{
    const auto number = numtext::toRoundedInteger(sString.toLocal8Bit().toStdString(),
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
    return number ? static_cast<std::int32_t>(*number) : lDefault;
}
