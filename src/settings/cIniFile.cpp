#include "cIniFile.h"

#include "runtime/number_text.h"
#include "text_encoding.h"

#include <QByteArray>
#include <algorithm>
#include <limits>
#include <vector>

QByteArray cIniFile::toNative(const QString& text)
{
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    return ascii ? text.toLatin1() : text.toLocal8Bit();
}

namespace {

constexpr std::uint32_t kValueBufferSize = 255;

// Settings texts are mostly ASCII, which reads the same in every 8-bit encoding: widening it
// is far cheaper than decoding.
bool isAscii(const char* bytes, qsizetype size)
{
    const std::string_view text(bytes, static_cast<std::size_t>(size));
    return profile::asciiPrefix(text) == text.size();
}

QString fromNative(const char* bytes, qsizetype size)
{
    return isAscii(bytes, size) ? QString::fromLatin1(bytes, size)
                                : QString::fromLocal8Bit(bytes, size);
}

// One text refilled for each key of a long section, rather than one allocated: most keys are
// short ASCII names.
void refill(QString& text, std::string_view bytes)
{
    const auto size = static_cast<qsizetype>(bytes.size());
    if (!isAscii(bytes.data(), size)) {
        text = QString::fromLocal8Bit(bytes.data(), size);
        return;
    }
    text.resize(size);
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char16_t*>(text.data()));
}

// A value cut to fit the buffer may end inside a character: that character's bytes are dropped.
QString valueText(std::string_view read)
{
    return fromNative(read.data(), static_cast<qsizetype>(profile::wholeCharacters(read)));
}

constexpr std::uint32_t kListBufferSize = 8192;

QString readThroughBuffer(const char* section, const char* key, const char* defaultText,
                          const char* path, std::uint32_t bufferSize, bool* wasCut = nullptr)
{
    std::vector<char> buffer(bufferSize, ' ');
    const std::int32_t count = profile::GetPrivateProfileStringA(section, key, defaultText,
                                                                 buffer.data(), bufferSize, path);
    if (wasCut) {
        // A list that does not fit ends two short of the buffer, a value one short.
        const std::uint32_t shortBy = key ? 1 : 2;
        *wasCut = bufferSize >= shortBy && count == static_cast<std::int32_t>(bufferSize - shortBy);
    }
    return fromNative(buffer.data(), count);
}

// Reads through ever larger buffers until nothing is cut.
QString readWhole(const char* section, const char* key, const char* defaultText, const char* path)
{
    std::uint32_t bufferSize = kListBufferSize;
    bool cut = true;
    QString text;
    while (cut) {
        text = readThroughBuffer(section, key, defaultText, path, bufferSize, &cut);
        bufferSize *= 16;
    }
    return text;
}

enum class EmptyPieces { Keep, Skip };

// The pieces of a list that each end in a NUL; what follows the last NUL is no piece (it is a
// name the store cut).
QStringList nulTerminatedPieces(const QString& list, EmptyPieces empty)
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype end = list.indexOf(QChar(u'\0')); end >= 0;
         end = list.indexOf(QChar(u'\0'), start)) {
        if (end != start || empty == EmptyPieces::Keep)
            pieces.append(list.mid(start, end - start));
        start = end + 1;
    }
    return pieces;
}

} // namespace

QString cIniFile::Value() const
{
    char buffer[kValueBufferSize];
    const std::int32_t count =
        profile::GetPrivateProfileStringA(section_.native(), key_.native(), default_.native(),
                                          buffer, kValueBufferSize, path_.native());
    return valueText(std::string_view(buffer, static_cast<std::size_t>(count)));
}

void cIniFile::ForEachValue(const std::function<void(const QString&, QString)>& visit) const
{
    if (!section_.native() || !path_.native())
        return;
    QString keyText;
    profile::forEachValue(section_.native(), kValueBufferSize, path_.native(),
                          [&](std::string_view key, std::string_view value) {
                              refill(keyText, key);
                              visit(keyText, valueText(value));
                          });
}

void cIniFile::ForEachKey(const std::function<void(const QString&)>& visit) const
{
    QString keyText;
    profile::forEachKeyName(section_.native(), path_.native(), [&](std::string_view key) {
        refill(keyText, key);
        visit(keyText);
    });
}

void cIniFile::setValue(const OptionalText& sValue)
{
    OptionalText cleaned = sValue;
    if (cleaned)
        cleaned->remove(QChar(u'\0'));
    lastReturnCode_ = profile::WritePrivateProfileStringA(
        section_.native(), key_.native(), NativeField(cleaned).native(), path_.native());
}

void cIniFile::DeleteKey()
{
    lastReturnCode_ = profile::WritePrivateProfileStringA(section_.native(), key_.native(), nullptr,
                                                          path_.native());
}

void cIniFile::DeleteSection()
{
    lastReturnCode_ =
        profile::WritePrivateProfileStringA(section_.native(), nullptr, nullptr, path_.native());
}

QString cIniFile::INISection() const
{
    return readThroughBuffer(section_.native(), nullptr, default_.native(), path_.native(),
                             kListBufferSize);
}

void cIniFile::EnumerateCurrentSection(QStringList& sKey, std::int32_t& iCount) const
{
    sKey = nulTerminatedPieces(INISection(), EmptyPieces::Keep);
    iCount = static_cast<std::int32_t>(sKey.size());
}

void cIniFile::setINISection(const OptionalText& sSection)
{
    // With the key absent the store removes the whole section and ignores the value.
    lastReturnCode_ = profile::WritePrivateProfileStringA(
        section_.native(), nullptr, NativeField(sSection).native(), path_.native());
}

QString cIniFile::Sections() const
{
    return readThroughBuffer(nullptr, nullptr, default_.native(), path_.native(), kListBufferSize);
}

void cIniFile::EnumerateAllSections(QStringList& sSections, std::int32_t& iCount) const
{
    sSections = nulTerminatedPieces(Sections(), EmptyPieces::Skip);
    iCount = static_cast<std::int32_t>(sSections.size());
}

QString cIniFile::WholeValue() const
{
    return readWhole(section_.native(), key_.native(), default_.native(), path_.native());
}

QStringList cIniFile::AllKeys() const
{
    QStringList keys;
    ForEachKey([&keys](const QString& key) { keys.append(key); });
    return keys;
}

int cIniFile::ReadError() const
{
    return path_.native() ? profile::readError(path_.native()) : 0;
}

cIniFile::SectionContent cIniFile::CurrentSectionContent() const
{
    if (!path_.native() || !section_.native())
        return {};
    const profile::IniDocument::SectionLines lines =
        profile::sectionLines(path_.native(), section_.native());
    SectionContent content;
    content.fingerprint = lines.fingerprint;
    for (const std::string& line : lines.unread)
        content.unreadLines.append(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
    return content;
}

profile::Batch cIniFile::StartBatch() const
{
    return profile::Batch(path_.native() ? path_.native() : "");
}

std::int32_t cIniFile::CLngDefault(const QString& sString, std::int32_t lDefault)
{
    const auto number = numtext::toRoundedInteger(sString.toLocal8Bit().toStdString(),
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
    return number ? static_cast<std::int32_t>(*number) : lDefault;
}
