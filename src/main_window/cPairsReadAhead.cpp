#include "cPairsReadAhead.h"

#include <QScopeGuard>

namespace {

// Small enough that the lists take the first rows soon, large enough to add few rows at a time.
constexpr std::size_t kPieceRows = 2048;

} // namespace

cPairsReadAhead::cPairsReadAhead(const QString& path)
    : reading_(std::async(std::launch::async, &cPairsReadAhead::read, this, path))
{
}

cPairsReadAhead::Done cPairsReadAhead::read(const QString& path)
{
    // Also when the reading fails: the rows wait for it no more.
    const auto allGiven = qScopeGuard([this] {
        const std::lock_guard<std::mutex> lock(mutex_);
        allGiven_ = true;
        given_.notify_one();
    });
    cIniFile ini;
    ini.setPath(path);
    ini.setSection(pair_file::kSection);
    Done done;
    {
        const profile::Batch once = ini.StartBatch();
        done.facts = pair_file::readRows(
            ini,
            [this](pair_file::RowValues rows) {
                const std::lock_guard<std::mutex> lock(mutex_);
                rows_.push_back(std::move(rows));
                given_.notify_one();
            },
            kPieceRows);
    }
    done.text = profile::takeLastText();
    return done;
}

std::optional<pair_file::RowValues> cPairsReadAhead::nextRows()
{
    std::unique_lock<std::mutex> lock(mutex_);
    given_.wait(lock, [this] { return !rows_.empty() || allGiven_; });
    if (rows_.empty())
        return std::nullopt;
    pair_file::RowValues rows = std::move(rows_.front());
    rows_.pop_front();
    return rows;
}

cPairsReadAhead::Read cPairsReadAhead::handOver()
{
    Done done = reading_.get();
    Read read{std::move(done.facts), nullptr};
    if (done.text) {
        read.bytes = done.text->bytes;
        profile::useAsLastText(std::move(*done.text));
    }
    return read;
}
