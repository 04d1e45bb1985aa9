#pragma once
// A crawl file's write-ahead log copied into the file on a thread of its
// own while the crawl writes, not by the commit that fills it: a copy ends
// in syncing the log and the file, some 30 ms for 32 MiB here, which the
// crawl would wait for once every few hundred pages.
//
// Each commit says how long the log has grown (Logged, on the writer's
// thread, from SQLite's hook). Past Start pages the copier copies what the
// log holds through a connection of its own while the writer goes on, then
// what came meanwhile, till little is left; the writer copies that little
// itself, and its next commit starts the log from its beginning again
// (SQLite does so only once all of it is in the file). Copies by either
// are SQLite's own checkpoints: the log and the file are synced before the
// log is used again.

#include <memory>
#include <string>

struct sqlite3;

class TLogCopier {
public:
    // Log pages past which a copy starts (16 MiB of 4 KiB pages); those few
    // enough for the writer to copy itself; and those past which the writer
    // copies the log itself, whatever it takes (the copier did not open, or
    // cannot keep up).
    static constexpr int Start = 4096;
    static constexpr int Few = 256;
    static constexpr int Most = 4 * Start;

    explicit TLogCopier(const std::string& path);
    // Waits for a copy under way; the copier's connection closes.
    ~TLogCopier();
    TLogCopier(const TLogCopier&) = delete;
    TLogCopier& operator=(const TLogCopier&) = delete;

    // After a commit through writer, the log holding pages pages.
    void Logged(sqlite3* writer, int pages);

private:
    struct TThread;
    std::unique_ptr<TThread> FThread;
};
