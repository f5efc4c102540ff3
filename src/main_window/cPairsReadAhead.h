#pragma once

#include "pair_file.h"
#include "settings/private_profile.h"

#include <QString>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

// Reads section "pairs" of a settings file on a thread of its own, while the window that loads
// it is built on this one, and gives its rows as they are read. They belong to the table only
// when the file still holds the same bytes once the reading is done: see handOver. Destroying
// it waits for the thread.
class cPairsReadAhead {
public:
    explicit cPairsReadAhead(const QString& path);
    cPairsReadAhead(const cPairsReadAhead&) = delete;
    cPairsReadAhead& operator=(const cPairsReadAhead&) = delete;

    // Waits for the next rows read (they follow the last rows given); none once all were given.
    std::optional<pair_file::RowValues> nextRows();

    // What the thread found besides the rows, and the text it read them from.
    struct Read {
        pair_file::SectionFacts facts;
        std::shared_ptr<const std::string> bytes;
    };
    // Waits for the thread and makes the text it read this thread's text last read: the next
    // batch opened on the file compares the file with it and, while they agree, holds it
    // unparsed (profile::Batch::holds tells).
    Read handOver();

private:
    struct Done {
        pair_file::SectionFacts facts;
        std::optional<profile::FileText> text;
    };
    Done read(const QString& path);

    std::mutex mutex_;
    std::condition_variable given_;
    std::deque<pair_file::RowValues> rows_;
    bool allGiven_ = false;
    std::future<Done> reading_;
};
