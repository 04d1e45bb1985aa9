// The crawl file written as the crawl goes: answers come back as recorded,
// in order, and only once committed; a writer killed at any moment or out
// of room leaves a file that opens with all it committed; the tables of a
// halt and of the end; files that are not crawl files are left alone.
#include "Slurp.h"
#include "TChildProcess.h"
#include "TJournalPages.h"

#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TCrawlReport.h"
#include "report/TReport.h"
#include "store/TAnswerCodec.h"
#include "store/TCrawlFile.h"
#include "store/TCrawlRecorder.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

auto Fields(const TAnswer& a) {
    std::vector<std::pair<int, std::string>> hops;
    for (const TRedirectHop& hop : a.Redirects)
        hops.emplace_back(hop.Status, hop.Location);
    return std::make_tuple(a.Status, a.StatusText, a.StatusPhrase, a.FinalAddress, hops,
                           int(a.Method), a.ContentType, a.DeclaredLength, a.BodyBytes, a.BodyRead,
                           a.Body, int(a.Failure), a.Reason, a.Retries);
}

void ExpectReplays(TCrawlRecorder& recorder, const std::string& key, const TAnswer& expected) {
    const std::optional<TAnswer> answer = recorder.Replay(key);
    ASSERT_TRUE(answer.has_value()) << key;
    EXPECT_EQ(Fields(*answer), Fields(expected)) << key;
}

// The first column of query's rows, as text.
std::vector<std::string> Column(const std::string& path, const QString& sql) {
    std::vector<std::string> values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "look");
        db.setDatabaseName(QString::fromStdString(path));
        EXPECT_TRUE(db.open());
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
        while (query.next())
            values.push_back(query.value(0).toString().toStdString());
    }
    QSqlDatabase::removeDatabase("look");
    return values;
}

// Answers with what a server controls at its worst: bytes that are no
// UTF-8, NUL bytes in the body, redirects, a failure; two under one key,
// one of them a large body.
TEST(CrawlRecorder, AnswersComeBackAsRecordedInOrderOnceCommitted) {
    TAnswer hostile;
    hostile.Status = -1;
    hostile.StatusText = "abc";
    hostile.StatusPhrase = "Not \xe9t\xe9";
    hostile.FinalAddress = "http://h/\xff";
    hostile.Redirects = {{301, "http://h/b"}, {302, std::string("http://h/\0c", 11)}};
    hostile.Method = TRequest::TMethod::Head;
    hostile.ContentType = "text/html; charset=\"x\"";
    hostile.DeclaredLength = 10;
    hostile.BodyBytes = 7;
    hostile.BodyRead = true;
    hostile.Body = std::string("a\0b\xff\0\r\n", 7);
    hostile.Failure = TFailure::CutShort;
    hostile.Reason = "cut \xc3 short, after 2 retries";
    hostile.Retries = 2;
    TAnswer plain;
    plain.Status = 200;
    plain.StatusText = "200";
    TAnswer second = hostile;
    // Larger than zlib's window, and encoded between small ones: each
    // answer comes back whole from the one stream the codec keeps.
    for (int i = 0; second.Body.size() < 300000; ++i)
        second.Body += std::to_string(i * 7919) + (i % 3 ? " second " : "\xff");
    second.Redirects.clear();
    const std::string key = "GET keep 67108864 http://h/a", odd = "GET count 0 http://h/\xfe\x00";
    const struct {
        std::string Key;
        TAnswer Answer;
    } recorded[] = {{key, hostile}, {odd, plain}, {key, second}};

    QTemporaryDir dir;
    const std::string path = dir.filePath("crawl.marrowby").toStdString();
    TCrawlOptions options;
    options.Connections = 7;
    options.Include = "^http://h/\xff";
    TReport about;
    about.Start = "http://h/";
    about.Options = {{"delay", "3"}, {"connections", "7"}, {"site", "/srv/\xed\x95\x9c"}};
    std::string error;
    {
        auto recorder = TCrawlRecorder::Create(path, options, about, error);
        ASSERT_TRUE(recorder) << error;
        EXPECT_EQ(recorder->Path(), path);
        for (const auto& r : recorded)
            recorder->Record(r.Key, r.Answer);
        ASSERT_EQ(recorder->Commit({2, 5, 3, 1}, TRecordStore()), "");
        recorder->Record("GET keep 0 http://h/late", plain); // never committed
    }
    EXPECT_EQ(Column(path, "SELECT value FROM meta WHERE name IN ('state', 'pages') ORDER BY name"),
              (std::vector<std::string>{"2", "running"}));
    EXPECT_EQ(Column(path, "SELECT status FROM answers ORDER BY seq"),
              (std::vector<std::string>{"-1", "200", "-1"}));

    TAnswer later = plain;
    later.Status = 500;
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        TCrawlOptions read;
        TReport readAbout;
        auto recorder = TCrawlRecorder::Open(path, read, readAbout, error);
        ASSERT_TRUE(recorder) << error;
        EXPECT_FALSE(recorder->Finished());
        EXPECT_EQ(recorder->PagesCommitted(), session == 0 ? 2u : 3u);
        EXPECT_EQ(read.Connections, 7);
        EXPECT_EQ(read.Include, options.Include);
        EXPECT_EQ(readAbout.Start, about.Start);
        EXPECT_EQ(readAbout.Options, (std::vector<std::pair<std::string, std::string>>{
                                         {"delay", "3"}, {"site", "/srv/\xed\x95\x9c"}}));
        ExpectReplays(*recorder, odd, plain);
        ExpectReplays(*recorder, key, hostile);
        ExpectReplays(*recorder, key, second);
        if (session == 1)
            ExpectReplays(*recorder, key, later);
        for (const std::string& none : {key, odd, std::string("GET keep 0 http://h/late"),
                                        std::string("GET keep 0 http://h/never")})
            EXPECT_FALSE(recorder->Replay(none)) << none;
        if (session == 0) {
            // Recorded now, it is kept for the next reading, not replayed now.
            recorder->Record(key, later);
            ASSERT_EQ(recorder->Commit({3, 4, 3, 1}, TRecordStore()), "");
            EXPECT_FALSE(recorder->Replay(key));
        }
    }
}

// An answer comes back from what this version writes and from the form files
// written before it kept; a frame cut short, or one that claims more than an
// answer holds, comes back as none (the crawl asks again).
TEST(CrawlRecorder, AnswersReadBackInEitherFormDamagedOnesNot) {
    TAnswer page;
    page.Status = 200;
    page.ContentType = "text/html";
    page.Body = std::string("<a href=x>\0\xff</a>", 16);
    page.Reason = "200 OK";
    TAnswerCodec codec;
    const QByteArray kept = codec.Encode(page);
    QByteArray fields(
        qsizetype(ZSTD_getFrameContentSize(kept.constData(), std::size_t(kept.size()))),
        Qt::Uninitialized);
    ASSERT_EQ(ZSTD_decompress(fields.data(), std::size_t(fields.size()), kept.constData(),
                              std::size_t(kept.size())),
              std::size_t(fields.size()));
    const std::string huge(std::size_t(TRequest::kPageCap) + 2 * 1024 * 1024, 'x');
    std::string bomb(ZSTD_compressBound(huge.size()), '\0');
    bomb.resize(ZSTD_compress(bomb.data(), bomb.size(), huge.data(), huge.size(), 1));
    const struct {
        const char* What;
        QByteArray Data;
        bool Read;
    } cases[] = {
        {"as written", kept, true},
        {"as files before kept it", qCompress(fields, 1), true},
        {"cut short", kept.left(kept.size() - 3), false},
        {"more than an answer", QByteArray(bomb.data(), qsizetype(bomb.size())), false},
    };
    for (const auto& c : cases) {
        const std::optional<TAnswer> read = TAnswerCodec::Decode(c.Data);
        ASSERT_EQ(read.has_value(), c.Read) << c.What;
        if (read) {
            EXPECT_EQ(Fields(*read), Fields(page)) << c.What;
        }
    }
}

int LastPage(const std::string& out) {
    std::istringstream lines(out);
    int last = 0;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
            last = std::stoi(line);
    return last;
}

// Every page the file says it committed comes back whole, and nothing after it.
void ExpectCommittedPages(const std::string& path, std::size_t atLeast, std::size_t atMost) {
    TCrawlOptions options;
    TReport about;
    std::string error;
    auto recorder = TCrawlRecorder::Open(path, options, about, error);
    ASSERT_TRUE(recorder) << error;
    const std::size_t pages = recorder->PagesCommitted();
    EXPECT_GE(pages, atLeast);
    EXPECT_LE(pages, atMost);
    for (std::size_t page = 1; page <= pages; ++page) {
        ExpectReplays(*recorder, PageKey(page), PageAnswer(page));
        ExpectReplays(*recorder, SharedKey, SharedAnswer(page));
    }
    EXPECT_FALSE(recorder->Replay(PageKey(pages + 1)));
    EXPECT_FALSE(recorder->Replay(SharedKey));
    // The rows of the pages came with their answers, and nothing after them.
    const std::vector<std::string> linked = Column(path, "SELECT page FROM links");
    EXPECT_EQ(linked.size(), 2 * pages);
    if (!linked.empty()) {
        EXPECT_EQ(linked.back(), PageAddress(pages));
    }
    EXPECT_EQ(Column(path, QString::fromStdString("SELECT COUNT(*) FROM referrers WHERE uri = '" +
                                                  SharedAddress + "'")),
              (std::vector<std::string>{std::to_string(pages)}));
}

// A writer killed at a moment of its own choosing, several times over:
// inside a commit, between two, while the log is written into the file.
// Written on a thread of its own, a page printed was handed over, and the
// file may be a page behind.
TEST(CrawlRecorder, AKilledWriterLeavesAFileWithAllItCommitted) {
    QTemporaryDir dir;
    for (const auto& [ms, threaded] : {std::pair{30, true}, std::pair{110, false},
                                       std::pair{240, true}, std::pair{370, false}}) {
        SCOPED_TRACE(ms);
        const std::string path = dir.filePath("killed.marrowby").toStdString();
        TChildProcess writer(MARROWBY_RECORDER_WRITER, {path, "kill-after-ms", std::to_string(ms),
                                                        threaded ? "thread" : "direct"});
        ASSERT_TRUE(writer.Start());
        ASSERT_TRUE(writer.Wait(std::chrono::seconds(60)));
        ASSERT_EQ(writer.ExitCode(), -2) << writer.Out() << writer.Err();
        // Its tables (empty: the crawl never halted) read as they are, its
        // log beside it.
        TRecordStore store;
        TCrawlOptions options;
        TReport about;
        EXPECT_EQ(TCrawlFile::Load(path, store, options, about), "");
        const std::size_t last = std::size_t(LastPage(writer.Out()));
        ExpectCommittedPages(path, threaded && last > 0 ? last - 1 : last, last + 1);
    }
}

// No room for the next commit: it says so, keeps nothing, and the file
// opens with every page before.
TEST(CrawlRecorder, ACommitWithoutRoomKeepsWhatWasCommitted) {
    QTemporaryDir dir;
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded);
        const std::string path = dir.filePath("full.marrowby").toStdString();
        std::filesystem::remove(path);
        TChildProcess writer(MARROWBY_RECORDER_WRITER,
                             {path, "file-limit", "1000000", threaded ? "thread" : "direct"});
        ASSERT_TRUE(writer.Start());
        ASSERT_TRUE(writer.Wait(std::chrono::seconds(60)));
        ASSERT_EQ(writer.ExitCode(), 0) << writer.Out() << writer.Err();
        EXPECT_NE(writer.Out().find("failed: " + path + ": cannot be written: "), std::string::npos)
            << writer.Out();
        // On a thread, the commit that failed is said at the next page.
        const std::size_t last = std::size_t(LastPage(writer.Out())) - (threaded ? 1 : 0);
        EXPECT_GT(last, 10u);
        ExpectCommittedPages(path, last, last);
    }
}

// Pages committed as fast as they come: the log is copied into the file and
// started again, never growing past a bound, and the file holds every page.
TEST(CrawlRecorder, TheLogStaysBoundedHoweverFastPagesCome) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("fast.marrowby").toStdString();
    const std::size_t pages = 4000; // some 90 MiB through the log
    std::uintmax_t longest = 0;
    {
        std::string error;
        auto recorder = TCrawlRecorder::Create(path, {}, TReport(), error);
        ASSERT_TRUE(recorder) << error;
        TRecordStore records;
        for (std::size_t page = 1; page <= pages; ++page) {
            recorder->Record(PageKey(page), PageAnswer(page));
            recorder->Record(SharedKey, SharedAnswer(page));
            MergePage(records, page);
            ASSERT_EQ(recorder->Commit({page, 1, 0, 0}, records), "");
            std::error_code ec;
            if (const auto size = std::filesystem::file_size(path + "-wal", ec); !ec)
                longest = std::max(longest, size);
        }
    }
    EXPECT_GT(longest, 0u);
    EXPECT_LT(longest, 70u << 20) << longest;
    ExpectCommittedPages(path, pages, pages);
}

// A halt keeps the queue and the answers; the end keeps the tables only, in
// one small file.
TEST(CrawlRecorder, TablesOfAHaltAndOfTheEnd) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("crawl.marrowby").toStdString();
    TReport about;
    about.Start = "http://h/";
    std::string error;
    TRecordStore store;
    store.AddPageRow({1, 0, "http://h/", 5, 200, "text/html", TVerdict::Fine, "200 OK"});
    {
        auto recorder = TCrawlRecorder::Create(path, {}, about, error);
        ASSERT_TRUE(recorder) << error;
        recorder->Record(PageKey(1), PageAnswer(1));
        ASSERT_EQ(recorder->Commit({1, 2, 0, 0}, TRecordStore()), "");
        ASSERT_EQ(recorder->WriteTables(store, {"http://h/q", "http://h/\xff"}, about, false), "");
    }
    EXPECT_EQ(Column(path, "SELECT value FROM meta WHERE name = 'state'"),
              (std::vector<std::string>{"stopped"}));
    EXPECT_EQ(Column(path, "SELECT hex(address) FROM queue ORDER BY rowid"),
              (std::vector<std::string>{"687474703A2F2F682F71", "687474703A2F2F682FFF"}));
    TRecordStore loaded;
    TCrawlOptions options;
    ASSERT_EQ(TCrawlFile::Load(path, loaded, options, about), "");
    EXPECT_EQ(loaded.PageRows().size(), 1u);
    {
        auto recorder = TCrawlRecorder::Open(path, options, about, error);
        ASSERT_TRUE(recorder) << error;
        EXPECT_FALSE(recorder->Finished());
        ExpectReplays(*recorder, PageKey(1), PageAnswer(1));
        for (std::size_t page = 2; page < 40; ++page) // room the end gives back
            recorder->Record(PageKey(page), PageAnswer(page));
        ASSERT_EQ(recorder->Commit({2, 1, 0, 0}, TRecordStore()), ""); // goes on
        EXPECT_EQ(Column(path, "SELECT value FROM meta WHERE name IN ('pages', 'state') "
                               "ORDER BY name"),
                  (std::vector<std::string>{"2", "running"}));
        about.Finished = "2026-05-01T12:00:09Z";
        ASSERT_EQ(recorder->WriteTables(store, {}, about, true), "");
        EXPECT_TRUE(recorder->Finished());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path().toStdString()),
                            std::filesystem::directory_iterator()),
              1); // neither a log nor a copy left beside it
    EXPECT_EQ(Column(path, "PRAGMA journal_mode"), (std::vector<std::string>{"delete"}));
    EXPECT_EQ(Column(path, "PRAGMA freelist_count"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(Column(path, "SELECT COUNT(*) FROM answers"), (std::vector<std::string>{"0"}));
    auto recorder = TCrawlRecorder::Open(path, options, about, error);
    ASSERT_TRUE(recorder) << error;
    EXPECT_TRUE(recorder->Finished());
    EXPECT_EQ(about.Finished, "2026-05-01T12:00:09Z");
    EXPECT_FALSE(recorder->Replay(PageKey(1)));
}

// The end with another connection open on the file (sqlite3 beside the
// program): the copy cannot take its place, and its tables go into the file.
TEST(CrawlRecorder, TheEndWithTheFileOpenElsewhere) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("crawl.marrowby").toStdString();
    TReport about;
    about.Start = "http://h/";
    std::string error;
    TRecordStore store;
    store.AddPageRow({1, 0, "http://h/", 5, 200, "text/html", TVerdict::Fine, "200 OK"});
    {
        QSqlDatabase elsewhere = QSqlDatabase::addDatabase("QSQLITE", "elsewhere");
        auto recorder = TCrawlRecorder::Create(path, {}, about, error);
        ASSERT_TRUE(recorder) << error;
        recorder->Record(PageKey(1), PageAnswer(1));
        ASSERT_EQ(recorder->Commit({1, 0, 0, 0}, TRecordStore()), "");
        elsewhere.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(elsewhere.open());
        ASSERT_TRUE(QSqlQuery(elsewhere).exec("SELECT COUNT(*) FROM answers"));
        ASSERT_EQ(recorder->WriteTables(store, {}, about, true), "");
        EXPECT_TRUE(recorder->Finished());
    }
    QSqlDatabase::removeDatabase("elsewhere");
    EXPECT_EQ(Column(path, "SELECT value FROM meta WHERE name = 'state'"),
              (std::vector<std::string>{"finished"}));
    EXPECT_EQ(Column(path, "SELECT uri FROM pages"), (std::vector<std::string>{"http://h/"}));
    EXPECT_EQ(Column(path, "SELECT COUNT(*) FROM answers"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(Column(path, "SELECT COUNT(*) FROM sqlite_schema WHERE name = 'link_rows_page'"),
              (std::vector<std::string>{"1"}));
    EXPECT_FALSE(std::filesystem::exists(path + ".part-" + std::to_string(getpid())));
}

// The link rows and references of the pages committed leave memory and are
// read back from the file for every report and for where-used, as a crawl
// goes on merging pages; taken back into memory (the recorder going), they
// stay the same. A store that keeps them all is the measure.
TEST(CrawlRecorder, RowsLetGoOfComeBackFromTheFile) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("crawl.marrowby").toStdString();
    const std::string other = "http://127.0.0.1/other";
    TRecordStore kept, store;
    for (TRecordStore* records : {&kept, &store}) {
        for (std::size_t page = 1; page <= 3; ++page)
            MergePage(*records, page);
        records->AddRedirect(PageAddress(3), 301, PageAddress(1));
        records->BeginMerge(PageAddress(4)); // merged after the commit: stays in memory
        records->AddReference(PageAddress(2), KIND_PAGE, 2, true, 7);
        records->EndMerge();
    }
    // Merged once the rows before it have left: an address it uses as an
    // object and then links to, both earlier ones', and a new one.
    const auto mergeFifth = [&](TRecordStore& records) {
        records.BeginMerge(PageAddress(5));
        records.AddReference(PageAddress(2), KIND_OBJECT, 1, false, 9);
        records.AddReference(SharedAddress, KIND_PAGE, 1, true, 4);
        records.AddReference(other, KIND_PAGE, 1, true, 5);
        records.AddReference(PageAddress(2), KIND_PAGE, 1, true, 8);
        records.EndMerge();
    };
    mergeFifth(kept);
    const std::vector<std::string> files = TCrawlReport::FileNames(TCrawlReport::Formats());
    const auto report = [&](const TRecordStore& records, const std::string& name) {
        const std::string folder = dir.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_EQ(TCrawlReport::Write(records, folder, TCrawlReport::Formats()), "");
        std::string all;
        for (const std::string& file : files)
            all += file + ":\n" + Slurp(folder + "/" + file);
        for (const std::string& address : {PageAddress(2), SharedAddress, other, PageAddress(3)})
            for (const TReferrer& referrer : records.ReferrersOf(address))
                all += address + " <- " + referrer.Url + ":" + std::to_string(referrer.Line) + "\n";
        return all;
    };
    const std::string expected = report(kept, "kept");
    EXPECT_NE(expected.find(PageAddress(2) + " <- " + PageAddress(5) + ":8"), std::string::npos);
    std::string error;
    auto recorder = TCrawlRecorder::Create(path, {}, {}, error);
    ASSERT_TRUE(recorder) << error;
    ASSERT_EQ(recorder->Commit({3, 0, 0, 0}, store), "");
    EXPECT_EQ(recorder->MergedKept(), 4u);
    store.Release(recorder.get(), 3);
    EXPECT_TRUE(store.Links(0).empty());
    mergeFifth(store);
    EXPECT_EQ(report(store, "released"), expected);
    ASSERT_EQ(recorder->Commit({5, 0, 0, 0}, store), "");
    store.Release(recorder.get(), 4);
    EXPECT_EQ(report(store, "released-more"), expected);
    store.Reclaim();
    recorder.reset();
    EXPECT_EQ(store.Links(2).size(), 2u);
    EXPECT_EQ(report(store, "reclaimed"), expected);
}

// A file that is not a crawl file is never replaced; a copy holds what was
// committed; a crawl file is replaced by a new crawl.
TEST(CrawlRecorder, CopiesAndReplacesCrawlFilesOnly) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("crawl.marrowby").toStdString(),
                      notes = dir.filePath("notes.txt").toStdString(),
                      copy = dir.filePath("copy.marrowby").toStdString();
    std::ofstream(notes) << "mine";
    std::string error;
    EXPECT_FALSE(TCrawlRecorder::Create(notes, {}, {}, error));
    EXPECT_EQ(error, notes + ": not a Marrowby crawl file, left as it is");
    EXPECT_FALSE(
        TCrawlRecorder::Create(dir.filePath("none/c.marrowby").toStdString(), {}, {}, error));
    EXPECT_EQ(error.rfind(dir.filePath("none/c.marrowby").toStdString() + ": cannot be written", 0),
              0u)
        << error;

    auto recorder = TCrawlRecorder::Create(path, {}, {}, error);
    ASSERT_TRUE(recorder) << error;
    recorder->Record(PageKey(1), PageAnswer(1));
    recorder->Record(SharedKey, SharedAnswer(1));
    TRecordStore records;
    MergePage(records, 1);
    ASSERT_EQ(recorder->Commit({1, 0, 0, 0}, records), "");
    recorder->Record(PageKey(2), PageAnswer(2));
    EXPECT_EQ(recorder->CopyTo(notes), notes + ": not a Marrowby crawl file, left as it is");
    EXPECT_EQ(Slurp(notes), "mine");
    ASSERT_EQ(recorder->CopyTo(copy), "");
    ASSERT_EQ(recorder->CopyTo(copy), ""); // over a crawl file
    EXPECT_EQ(recorder->CopyTo(path), ""); // itself: nothing to do
    ExpectCommittedPages(copy, 1, 1);
    EXPECT_EQ(Column(copy, "PRAGMA journal_mode"), (std::vector<std::string>{"delete"}));

    recorder = TCrawlRecorder::Create(copy, {}, {}, error);
    ASSERT_TRUE(recorder) << error;
    EXPECT_EQ(recorder->PagesCommitted(), 0u);
    EXPECT_FALSE(recorder->Replay(PageKey(1)));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos)
            << "a temporary file left beside the crawl file";
}

} // namespace
