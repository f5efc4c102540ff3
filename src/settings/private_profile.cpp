#include "private_profile.h"

#include "profile_buffer.h"
#include "profile_file.h"

#include <cerrno>
#include <memory>
#include <optional>
#include <unordered_map>

namespace profile {

namespace {

// A file as read from disk, and what was done to it in memory since.
struct OpenFile {
    IniDocument document;
    std::shared_ptr<const std::string> bytes; // shared with the document where it reads them
    int readError = 0; // the file exists, but its content could not be read: never write it
    int batchDepth = 0;
    bool dirty = false;
    int refusal = 0; // the first refused write of a batch: the batch saves nothing
    bool keepBackup = false;
};

// The files of this thread's open batches.
thread_local std::unordered_map<std::string, OpenFile> openBatches;

// The text last read or saved, with its parsed document. Every call reads the file, and this
// document serves it only when the file holds exactly that text again: it is never stale,
// whatever the file's time stamps say, and spares parsing a long file twice (the save after the
// load, the load after a save).
thread_local std::optional<FileText> lastText;

void remember(const std::string& path, std::shared_ptr<const std::string> bytes,
              IniDocument document)
{
    lastText = FileText{path, std::move(bytes), std::move(document)};
}

OpenFile readOpenFile(const std::string& path)
{
    OpenFile file;
    // The text last read or saved is usually what the file still holds: compared as it is read,
    // it spares copying a long file at every read.
    const bool known = lastText && lastText->path == path;
    bool same = false;
    std::string bytes;
    const int error = readFile(path, bytes, known ? lastText->bytes.get() : nullptr, &same);
    file.readError = error == ENOENT ? 0 : error;
    if (error != 0) {
        bytes.clear();
        same = known && lastText->bytes->empty();
    }
    if (same) {
        file.bytes = std::move(lastText->bytes);
        file.document = std::move(lastText->document);
    } else {
        file.bytes = std::make_shared<const std::string>(std::move(bytes));
        file.document = IniDocument::parse(file.bytes);
    }
    lastText.reset();
    return file;
}

// The open batch of that file, or null. Few batches are ever open at once; a search by the
// map's key would build a std::string of the path for every call.
OpenFile* openBatch(const char* path)
{
    for (auto& [batchPath, file] : openBatches) {
        if (batchPath == path)
            return &file;
    }
    return nullptr;
}

template <typename Use> auto withFile(const char* path, Use use)
{
    if (OpenFile* batch = openBatch(path))
        return use(*batch);
    OpenFile file = readOpenFile(path);
    const auto result = use(file);
    remember(path, std::move(file.bytes), std::move(file.document));
    return result;
}

// Saves what was written to the file, unless a write was refused.
SaveOutcome finish(const std::string& path, OpenFile& file)
{
    SaveOutcome outcome;
    outcome.error = file.refusal;
    if (file.refusal != 0)
        return outcome;
    if (!file.dirty) {
        remember(path, std::move(file.bytes), std::move(file.document));
        return outcome;
    }
    std::string text = file.document.serialize();
    outcome = saveFile(path, text, *file.bytes, file.keepBackup);
    if (outcome.file == SaveOutcome::File::Replaced ||
        outcome.file == SaveOutcome::File::WrittenInPlace)
        remember(path, std::make_shared<const std::string>(std::move(text)),
                 std::move(file.document));
    return outcome;
}

} // namespace

std::int32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                      char* buffer, std::uint32_t bufferSize, const char* path)
{
    if (!path || !*path)
        return answerRead(IniDocument(), section, key, defaultText, buffer, bufferSize);
    return withFile(path, [&](const OpenFile& file) {
        return answerRead(file.document, section, key, defaultText, buffer, bufferSize);
    });
}

std::int32_t WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                        const char* path)
{
    if (!path || !*path)
        return 0;
    const CallerText sectionName(section ? section : "");
    const CallerText keyName(key ? key : "");
    const CallerText valueText(value ? value : "");
    const std::string_view sectionText = sectionName.text();
    const std::string_view keyText = keyName.text();
    int refusal = 0;
    if (!section)
        refusal = EINVAL;
    else if (!IniDocument::isWritableSection(sectionText) ||
             (key && !IniDocument::isWritableKey(keyText)) ||
             (key && value && !IniDocument::isWritableValue(valueText.text())))
        refusal = EILSEQ;

    OpenFile* batch = openBatch(path);
    OpenFile single;
    if (!batch)
        single = readOpenFile(path);
    OpenFile& file = batch ? *batch : single;
    if (refusal == 0)
        refusal = file.readError;
    if (refusal != 0) {
        if (file.refusal == 0)
            file.refusal = refusal;
        return 0;
    }
    bool changed;
    if (!key)
        changed = file.document.removeSection(sectionText);
    else if (!value)
        changed = file.document.removeKey(sectionText, keyText);
    else
        changed = file.document.setValue(sectionText, keyText, valueText.text());
    file.dirty = file.dirty || changed;
    if (file.batchDepth > 0)
        return 1;
    return finish(path, file).error == 0 ? 1 : 0;
}

void forEachKeyName(const char* section, const char* path,
                    const std::function<void(std::string_view name)>& visit)
{
    if (!section || !path || !*path)
        return;
    withFile(path, [&](const OpenFile& file) {
        file.document.forEachKeyName(CallerText(section).text(), visit);
        return 0;
    });
}

void forEachValue(const char* section, std::uint32_t bufferSize, const char* path,
                  const std::function<void(std::string_view key, std::string_view value)>& visit)
{
    if (!section || !path || !*path || bufferSize == 0)
        return;
    withFile(path, [&](const OpenFile& file) {
        file.document.forEachFirstKey(
            CallerText(section).text(), [&](const IniDocument::Entry& entry) {
                const std::string_view text = entry.value.value_or(std::string_view());
                visit(entry.name,
                      text.substr(
                          0, readLength(text.size(), entry.value && entry.quoted, bufferSize)));
            });
        return 0;
    });
}

int readError(const std::string& path)
{
    return withFile(path.c_str(), [](const OpenFile& file) { return file.readError; });
}

IniDocument::SectionLines sectionLines(const std::string& path, const std::string& section)
{
    return withFile(path.c_str(), [&](const OpenFile& file) {
        return file.document.sectionLines(CallerText(section.c_str()).text());
    });
}

std::optional<FileText> takeLastText()
{
    std::optional<FileText> text = std::move(lastText);
    lastText.reset();
    return text;
}

void useAsLastText(FileText text)
{
    lastText = std::move(text);
}

Batch::Batch(std::string path) : path_(std::move(path)), open_(true), committed_(false)
{
    const auto [found, added] = openBatches.try_emplace(path_);
    if (added)
        found->second = readOpenFile(path_);
    ++found->second.batchDepth;
}

Batch::Batch(Batch&& other) noexcept
    : path_(std::move(other.path_)), open_(other.open_), committed_(other.committed_),
      outcome_(std::move(other.outcome_))
{
    other.open_ = false;
    other.committed_ = true;
}

Batch::~Batch()
{
    commit();
}

bool Batch::holds(const std::shared_ptr<const std::string>& bytes) const
{
    return open_ && bytes && openBatches.at(path_).bytes == bytes;
}

void Batch::keepBackup()
{
    if (open_)
        openBatches.at(path_).keepBackup = true;
}

bool Batch::commit()
{
    if (!open_)
        return committed_;
    open_ = false;
    const auto found = openBatches.find(path_);
    OpenFile& file = found->second;
    if (--file.batchDepth > 0) {
        committed_ = file.refusal == 0;
        return committed_;
    }
    outcome_ = finish(path_, file);
    openBatches.erase(found);
    committed_ = outcome_.error == 0;
    return committed_;
}

} // namespace profile
