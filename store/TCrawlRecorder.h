#pragma once
// A crawl file written as the crawl goes: the journal of its answers
// (TCrawlJournal), committed a page at a time, with where the crawl stands;
// and, when the crawl halts or ends, the report's tables and its queue, so
// that the file reads like one TCrawlFile::Save writes. The same file is
// opened again to read the crawl back and go on with it (--resume, File →
// Open Crawl…). See docs/CRAWL-FILE.md.

#include "crawl/TCrawlJournal.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TRecordStore;
struct TCrawlOptions;
struct TReport;

class TCrawlRecorder : public TCrawlJournal {
public:
    ~TCrawlRecorder() override;

    // Starts a new crawl file at path for a crawl of about.Start with
    // options: an earlier crawl file there is replaced; any other file is
    // left alone and refused. Null, with error set (naming the file), when
    // it cannot be.
    static std::unique_ptr<TCrawlRecorder> Create(const std::string& path,
                                                  const TCrawlOptions& options,
                                                  const TReport& about, std::string& error);
    // Opens the crawl file at path to read it back and go on with it: its
    // options and about (start address, times, the options as given) come
    // back. A file that is not a crawl file, or that a newer version wrote,
    // is refused as TCrawlFile::Load refuses it.
    static std::unique_ptr<TCrawlRecorder> Open(const std::string& path, TCrawlOptions& options,
                                                TReport& about, std::string& error);

    // The crawl had ended when the file was written last: its tables hold
    // it whole (TCrawlFile::Load reads them) and nothing is left to replay.
    bool Finished() const noexcept;
    const std::string& Path() const noexcept;

    // TCrawlJournal.
    std::optional<TAnswer> Replay(const std::string& key) override;
    void Record(const std::string& key, const TAnswer& answer) override;
    std::string Commit(const TCrawlProgress& progress) override;
    std::size_t PagesCommitted() const override;

    // The crawl has halted (finished false) or ended (true): writes the
    // report's tables from store, the queue (the addresses still to visit,
    // in order) and about's times, in one transaction. An ended crawl's
    // journal of answers is emptied: its tables hold all it found. Returns
    // an empty string, else what went wrong, naming the file.
    std::string WriteTables(const TRecordStore& store, const std::vector<std::string>& queue,
                            const TReport& about, bool finished);
    // Writes a copy of the file, as it was at the last commit, to path
    // (replacing a crawl file there): File → Save Crawl…. Same returns.
    std::string CopyTo(const std::string& path) const;

private:
    TCrawlRecorder();
    struct TState;
    std::unique_ptr<TState> FState;
};
