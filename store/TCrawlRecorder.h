#pragma once
// A crawl file written as the crawl goes: the journal of its answers
// (TCrawlJournal) and the link rows and referrers of the pages merged,
// committed a page at a time, with where the crawl stands; and, when the
// crawl halts or ends, the rest of the report's tables and its queue, so
// that the file reads like one TCrawlFile::Save writes. The same file is
// opened again to read the crawl back and go on with it (--resume, File →
// Open Crawl…). See docs/CRAWL-FILE.md. A recorder is used on the thread
// that made it (Qt SQL's connections are).

#include "TCrawlRowWriter.h"

#include "crawl/TCrawlJournal.h"
#include "crawl/TRowReader.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class TRecordStore;
struct TCrawlOptions;
struct TReport;

class TCrawlRecorder : public TCrawlJournal, public TRowReader {
public:
    ~TCrawlRecorder() override;

    // Starts a new crawl file at path for a crawl of about.Start with
    // options (and about's "delay" and "site" options): an earlier crawl
    // file there is replaced; any other file (but an empty one) is left
    // alone and refused. Null, with error set (naming the file), when it
    // cannot be.
    static std::unique_ptr<TCrawlRecorder> Create(const std::string& path,
                                                  const TCrawlOptions& options,
                                                  const TReport& about, std::string& error);
    // Opens the crawl file at path to read it back and go on with it: its
    // options and about (start address, times, and "delay" and "site" among
    // its Options when kept) come back. A file that is not a crawl file, a
    // damaged one, or one that a newer version wrote, is refused as
    // TCrawlFile::Load refuses it. Nothing is written to the file until the
    // crawl goes on: a file of an earlier version is then brought up to this
    // one, and the rows it holds give way to those of the crawl read back.
    static std::unique_ptr<TCrawlRecorder> Open(const std::string& path, TCrawlOptions& options,
                                                TReport& about, std::string& error);

    // The crawl had ended when the file was written last: its tables hold
    // it whole (TCrawlFile::Load reads them) and nothing is left to replay.
    // A file of version 1 is a finished crawl.
    bool Finished() const noexcept;
    const std::string& Path() const noexcept;

    // TCrawlJournal. Replay gives the answers the file held when opened,
    // each once, a key's in the order recorded (Id 0: the caller gives it
    // its request's); answers recorded since are
    // kept for the next reading, never replayed now. A key not in the file
    // costs one lookup in its index. A commit writes the rows of the pages
    // whose merge ended since the last one. A commit that fails keeps what
    // was recorded since the last one, for the next commit to try again.
    std::optional<TAnswer> Replay(const std::string& key) override;
    void Record(const std::string& key, const TAnswer& answer) override;
    std::string Commit(const TCrawlProgress& progress, const TRecordStore& records) override;
    // The same in two steps: the rows of store up to merged (its place in
    // Merged()) not taken yet, taken as values (reading the store only, so
    // that the commit may be written on another thread while the store goes
    // on); and the commit of them.
    TCrawlRowWriter::TRows TakeRows(const TRecordStore& store, std::size_t merged);
    std::string Commit(const TCrawlProgress& progress, TCrawlRowWriter::TRows rows);
    std::size_t PagesCommitted() const override;
    // The answers the file held when opened that Replay has not given yet.
    std::size_t ReplayLeft() const noexcept;
    // The link rows and references of the merged pages committed are read
    // back from the file: the crawl's store lets go of them.
    const TRowReader* KeptRows() const override { return this; }
    std::size_t MergedKept() const override;
    bool ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const override;
    bool ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const override;
    // Reads them by the index of the referrers by address, made by the
    // first reading (IndexReferrers).
    bool ReadReferences(std::int32_t address, std::size_t to,
                        const TReferenceVisit& visit) const override;
    // The index of the referrers by address, made now unless made already
    // (outside a write), and kept up to date from then on.
    void IndexReferrers();

    // The crawl has halted (finished false) or ended (true): writes the rows
    // of the pages merged since the last commit (a merge the halt cut short
    // as far as it went), the rest of the report's tables from store, the
    // queue (the addresses still to visit, in order) and about's times, in
    // one transaction. An ended crawl's file is made anew beside it instead
    // (its rows as committed, indexed, its tables, no answers), which takes
    // the file's place (OneFile) unless oneFile is false; without room for
    // it, the file itself is written so, its answers deleted.
    // Answers recorded since the last commit are not written.
    // Returns an empty string, else what went wrong, naming the file.
    std::string WriteTables(const TRecordStore& store, const std::vector<std::string>& queue,
                            const TReport& about, bool finished, bool oneFile = true);
    // An ended crawl's small copy takes the file's place: one file (the
    // rollback journal's mode, as TCrawlFile writes), which can be only with
    // no other connection open; the recorder's own closes and opens again.
    // With another connection open, the copy's tables go into the file
    // instead. Empty, else what went wrong (the file holds every page
    // committed).
    std::string OneFile();
    // Writes a copy of the file, as it was at the last commit, to path
    // (replacing a crawl file there; any other file is refused), in the
    // rollback journal's mode, one file: File → Save Crawl…. A copy to the
    // file itself is nothing to do. Same returns.
    std::string CopyTo(const std::string& path) const;

private:
    TCrawlRecorder();
    struct TState;
    std::unique_ptr<TState> FState;
};
