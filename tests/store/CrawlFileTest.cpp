// Crawl files: a crawl saved, or recorded to its end, and loaded again gives
// the same report to the byte; files that are not crawl files, damaged ones
// and those a newer version wrote are refused; those of earlier versions are
// read.
#include "TTestSite.h"
#include "Slurp.h"
#include "tests/crawl/TCrawlDriver.h"

#include "crawl/TCrawlOptions.h"
#include "report/TCrawlReport.h"
#include "store/TCrawlFile.h"
#include "store/TCrawlRecorder.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

TCannedResponse Moved(const std::string& status, const std::string& location) {
    TCannedResponse r;
    r.Raw = "HTTP/1.1 " + status + "\r\nLocation: " + location +
            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return r;
}

// Every CSV file of the report written from each store is the same.
void ExpectSameReports(const TRecordStore& saved, const TRecordStore& loaded,
                       const QTemporaryDir& dir) {
    const std::string a = dir.filePath("a").toStdString(), b = dir.filePath("b").toStdString();
    ASSERT_EQ(TCrawlReport::Write(saved, a), "");
    ASSERT_EQ(TCrawlReport::Write(loaded, b), "");
    for (const std::string& file : TCrawlReport::FileNames()) {
        SCOPED_TRACE(file);
        EXPECT_GT(Slurp(a + "/" + file).size(), 0u);
        EXPECT_EQ(Slurp(a + "/" + file), Slurp(b + "/" + file));
    }
}

void RunSql(const QString& path, const QStringList& statements) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const QString& sql : statements)
            ASSERT_TRUE(query.exec(sql)) << sql.toStdString();
    }
    QSqlDatabase::removeDatabase("test");
}

// A crawl of the sample site (broken pages and images, a link elsewhere,
// permanent redirects, an image met before a link on a page) and a store
// holding text no crawl of it gives, its merge cut short: both come back the
// same, saved whole or recorded as a crawl goes and ended.
TEST(CrawlFile, ASavedCrawlLoadsIntoTheSameReport) {
    TTestSite site;
    site.Server.Add("/p301", Moved("301 Moved Permanently", "/index.html"));
    site.Server.Add("/p308", Moved("308 Permanent Redirect", "/missing.gif"));
    site.AddPage("/mixed.html", "200 OK", "text/html",
                 "<img src=p308>\n<a href=p301>a</a><img src=p301>\n<a href=mixed.html>me</a>"
                 "<a href=" +
                     site.Outside + ">out</a>");
    site.AddPage("/start.html", "200 OK", "text/html",
                 "<a href=mixed.html>m</a>\n<a href=\"" + site.Home() + "\">home</a>");
    TCrawlDriver driver;
    TCrawlOptions quick;
    quick.Retries = 0;
    quick.Confirm = false;
    driver.Crawl->SetOptions(quick);
    ASSERT_TRUE(driver.Run(site.Url("/start.html"), 0));

    TRecordStore odd;
    odd.AddPageRow({1, 0, "http://h/=1+1", 5, 200, "text/html", TVerdict::Fine, "200 OK"});
    const TGoneRow failed{-1,
                          1,
                          "http://h/\xff\xfe",
                          -1,
                          0,
                          "",
                          TVerdict::Broken,
                          "a \"quoted\",\r\nreason \xe2\x80\x94 \xed\x95\x9c\xea\xb8\x80 \xc3"};
    odd.AddPageRow(failed);
    odd.Entry(failed.Url).Verdict = failed.Verdict; // as the crawl judges the address
    odd.Entry(failed.Url).Reason = odd.Keep(failed.Reason);
    odd.BeginMerge("http://h/=1+1"); // cut short: its merge never ends
    odd.AddReference("http://h/i.gif", KIND_OBJECT, 1, false, 1);
    odd.AddReference("http://h/\xff\xfe", KIND_PAGE, 2, true, 3);

    TCrawlOptions options;
    options.Connections = 7;
    options.RetryWaits = {std::chrono::milliseconds(250)};
    options.External = false;
    options.Include = "^http://h/(a|b),c";
    TReport about;
    about.Start = site.Url("/start.html");
    about.Started = "2026-05-01T12:00:00Z";
    about.Finished = "2026-05-01T12:00:09Z";

    const auto save = [&](const TRecordStore& store, const std::string& path) {
        return TCrawlFile::Save(store, options, about, path);
    };
    const auto record = [&](const TRecordStore& store, const std::string& path) {
        std::string error;
        const auto recorder = TCrawlRecorder::Create(path, options, about, error);
        return recorder ? recorder->WriteTables(store, {}, about, true) : error;
    };
    QTemporaryDir dir;
    for (const auto& write : {std::function(save), std::function(record)})
        for (const TRecordStore* store :
             {&driver.Crawl->Records(), static_cast<const TRecordStore*>(&odd)}) {
            const std::string path = dir.filePath("crawl.marrowby").toStdString();
            ASSERT_EQ(write(*store, path), "");
            TRecordStore loaded;
            TCrawlOptions read;
            TReport readAbout;
            ASSERT_EQ(TCrawlFile::Load(path, loaded, read, readAbout), "");
            ExpectSameReports(*store, loaded, dir);
            EXPECT_EQ(read.Connections, 7);
            EXPECT_EQ(read.RetryWaits, options.RetryWaits);
            EXPECT_FALSE(read.External);
            EXPECT_EQ(read.Include, options.Include);
            EXPECT_EQ(readAbout.Start, about.Start);
            EXPECT_EQ(readAbout.Finished, about.Finished);
            for (const auto& entry : std::filesystem::directory_iterator(dir.path().toStdString()))
                EXPECT_EQ(entry.path().string().find(".part"), std::string::npos)
                    << "a temporary file left beside the crawl file";
        }
}

// What is not a crawl file, a damaged one, or one a newer version wrote, is
// refused by both readers and says why; what is not a crawl file is never
// written over.
TEST(CrawlFile, RefusesWhatItCannotRead) {
    QTemporaryDir dir;
    const QString saved = dir.filePath("saved.marrowby"), text = dir.filePath("notes.marrowby"),
                  other = dir.filePath("other.sqlite"), newer = dir.filePath("newer.marrowby"),
                  gutted = dir.filePath("gutted.marrowby"), cut = dir.filePath("cut.marrowby"),
                  noise = dir.filePath("noise.marrowby"),
                  journal = dir.filePath("nojournal.marrowby"),
                  numbered = dir.filePath("numbered.marrowby");
    TRecordStore full;
    full.AddPageRow(
        {1, 0, "http://h/", 5, 200, "text/html", TVerdict::Fine, std::string(9000, 'x')});
    ASSERT_EQ(TCrawlFile::Save(full, {}, {}, saved.toStdString()), "");
    std::ofstream(text.toStdString()) << "Id,Depth,URI\n1,0,http://h\n";
    RunSql(other, {"CREATE TABLE pages (uri TEXT)", "INSERT INTO pages VALUES ('x')"});
    const std::string bytes = Slurp(saved.toStdString());
    std::ofstream(cut.toStdString(), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::string scrambled = bytes;
    for (std::size_t i = 100; i < scrambled.size(); ++i)
        scrambled[i] = char(i * 7919 % 251);
    std::ofstream(noise.toStdString(), std::ios::binary) << scrambled;
    const struct {
        QString Path;
        QStringList Sql;
    } made[] = {
        {newer, {"PRAGMA user_version = 99"}},
        {gutted, {"DROP VIEW links"}},
        {journal, {"DROP TABLE answers"}},
        {numbered, {"INSERT INTO answers VALUES (9000000000000000000, 'k', 0, '', x'00')"}}};
    for (const auto& m : made) {
        std::filesystem::copy_file(saved.toStdString(), m.Path.toStdString());
        RunSql(m.Path, m.Sql);
    }
    const struct {
        QString Path;
        std::string Says;
    } cases[] = {
        {text, "not a Marrowby crawl file"},
        {other, "not a Marrowby crawl file"},
        {gutted, "not a Marrowby crawl file (no table links)"},
        {journal, "not a Marrowby crawl file (no table answers)"},
        {newer, "written by a newer version of Marrowby"},
        {cut, "damaged"},
        {noise, "damaged"},
        {dir.filePath("none.marrowby"), "no such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path.toStdString());
        TRecordStore store;
        TCrawlOptions options;
        TReport about;
        std::string error = TCrawlFile::Load(c.Path.toStdString(), store, options, about);
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        EXPECT_EQ(error.rfind(c.Path.toStdString(), 0), 0u) << error;
        EXPECT_FALSE(TCrawlRecorder::Open(c.Path.toStdString(), options, about, error));
        EXPECT_NE(error.find(c.Says), std::string::npos) << error;
        EXPECT_EQ(error.rfind(c.Path.toStdString(), 0), 0u) << error;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.filePath("none.marrowby").toStdString()));
    // Nor is such a file written over.
    EXPECT_EQ(TCrawlFile::Save(full, {}, {}, text.toStdString()),
              text.toStdString() + ": not a Marrowby crawl file, left as it is");
    EXPECT_EQ(Slurp(text.toStdString()), "Id,Depth,URI\n1,0,http://h\n");
    // Its tables read; its journal, numbered past what any disk holds, does not.
    TCrawlOptions options;
    TReport about;
    std::string error;
    EXPECT_FALSE(TCrawlRecorder::Open(numbered.toStdString(), options, about, error));
    EXPECT_EQ(error, numbered.toStdString() + ": damaged (answer number 9000000000000000000)");
}

// Files of earlier versions read as they were written, and are brought up to
// this version when written again: version 1 (no journal, no queue, no
// state: a finished crawl) and 2 (links and referrers as tables).
TEST(CrawlFile, ReadsFilesOfEarlierVersions) {
    TRecordStore store;
    store.AddPageRow({1, 0, "http://h/", 5, 200, "text/html", TVerdict::Fine, "200 OK"});
    store.AddPageRow({2, 1, "http://h/b", 0, 404, "", TVerdict::Broken, "404 Not Found"});
    store.Entry("http://h/b").Verdict = TVerdict::Broken;
    store.Entry("http://h/b").Reason = store.Keep("404 Not Found");
    store.BeginMerge("http://h/");
    store.AddReference("http://h/b", KIND_OBJECT, 1, false, 2);
    store.AddReference("http://h/b", KIND_PAGE, 2, true, 1);
    store.AddReference("http://x/", KIND_PAGE, 1, false, 4);
    store.EndMerge();
    const QStringList tables{"CREATE TABLE old_links AS SELECT * FROM links",
                             "CREATE TABLE old_referrers AS SELECT * FROM referrers",
                             "DROP VIEW links",
                             "DROP VIEW referrers",
                             "DROP TABLE addresses",
                             "DROP TABLE merged",
                             "DROP TABLE link_rows",
                             "DROP TABLE ref_rows",
                             "DROP TABLE verdicts",
                             "ALTER TABLE old_links RENAME TO links",
                             "ALTER TABLE old_referrers RENAME TO referrers",
                             "PRAGMA user_version = 2",
                             "UPDATE meta SET value = '2' WHERE name = 'schema'"};
    const QStringList versionOne{
        "DROP TABLE answers",
        "DROP TABLE queue",
        "PRAGMA user_version = 1",
        "UPDATE meta SET value = '1' WHERE name = 'schema'",
        "DELETE FROM meta WHERE name IN ('state', 'pages', 'queued', 'objects', 'external')",
        "DELETE FROM options WHERE name IN ('delay', 'site')"};
    QTemporaryDir dir;
    for (const int version : {1, 2}) {
        SCOPED_TRACE(version);
        const QString path = dir.filePath(QString("v%1.marrowby").arg(version));
        ASSERT_EQ(TCrawlFile::Save(store, {}, {}, path.toStdString()), "");
        RunSql(path, tables);
        if (version == 1)
            RunSql(path, versionOne);
        TRecordStore loaded;
        TCrawlOptions options;
        TReport about;
        ASSERT_EQ(TCrawlFile::Load(path.toStdString(), loaded, options, about), "");
        ExpectSameReports(store, loaded, dir);
        std::string error;
        auto recorder = TCrawlRecorder::Open(path.toStdString(), options, about, error);
        ASSERT_TRUE(recorder) << error;
        EXPECT_TRUE(recorder->Finished());
        EXPECT_EQ(recorder->PagesCommitted(), version == 1 ? 0u : 2u);
        EXPECT_FALSE(recorder->Replay("GET keep 0 http://h/"));
        ASSERT_EQ(recorder->WriteTables(loaded, {}, about, true), "");
        recorder.reset();
        TRecordStore again;
        ASSERT_EQ(TCrawlFile::Load(path.toStdString(), again, options, about), "");
        ExpectSameReports(store, again, dir);
        recorder = TCrawlRecorder::Open(path.toStdString(), options, about, error);
        ASSERT_TRUE(recorder) << error;
        EXPECT_TRUE(recorder->Finished());
    }
}

} // namespace
