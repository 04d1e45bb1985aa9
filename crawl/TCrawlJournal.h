#pragma once
// Where a crawl keeps the answers it was given, so that it can be read back
// to where it stopped and go on from there. The crawl is the same whatever
// the timing of its answers: given the same answers in the same order, it
// makes the same rows, ids and counts. So a journal of every answer, kept a
// page at a time, is all it takes to take a crawl up again: the crawl asks
// the journal first, and only what it does not hold goes out.
//
// An answer is filed under the key of its request (TCrawlJournal::Key):
// what is asked for and how. Two requests with one key are answered in the
// order recorded.

#include "http/TAnswer.h"

#include <cstddef>
#include <optional>
#include <string>

class TRecordStore;
class TRowReader;
struct TRequest;

// Where a crawl stands at a page's end: kept beside the answers, for people
// who read the file.
struct TCrawlProgress {
    // The pages done (visited, failed or listed without a request), and
    // those still queued.
    std::size_t Pages = 0;
    std::size_t Queued = 0;
    std::size_t Objects = 0;
    std::size_t External = 0;
};

class TCrawlJournal {
public:
    virtual ~TCrawlJournal() = default;

    // The key of a request: its address and what is asked of it (method,
    // what is done with the body and up to how much, HTML only or not).
    static std::string Key(const TRequest& request);

    // The next answer recorded under key and not taken yet, taken; nullopt
    // when there is none (the request goes out).
    virtual std::optional<TAnswer> Replay(const std::string& key) = 0;
    // An answer that came for a request of key. It is kept at the next Commit.
    virtual void Record(const std::string& key, const TAnswer& answer) = 0;
    // The crawl is between two pages, with progress.Pages done: what was
    // recorded since the last commit is kept with it, in one transaction,
    // with what records has merged since (a journal may keep the rows of
    // the report as they come). Returns why it could not be (a full disk),
    // else an empty string; what was kept before stays whole either way.
    virtual std::string Commit(const TCrawlProgress& progress, const TRecordStore& records) = 0;
    // The pages done at the last commit of the crawl being read back: a
    // crawl read back to where it stopped (TCrawl::Reopen) halts after as
    // many.
    virtual std::size_t PagesCommitted() const = 0;
    // The link rows the journal keeps of the records committed: those of
    // the first MergedKept() merged pages are read back through KeptRows(),
    // so that the store may let go of them. None by default.
    virtual const TRowReader* KeptRows() const { return nullptr; }
    virtual std::size_t MergedKept() const { return 0; }
};
