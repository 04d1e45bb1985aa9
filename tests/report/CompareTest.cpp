#include "TChildProcess.h"
#include "Slurp.h"
#include "crawl/TRecordStore.h"
#include "report/TCrawlCompare.h"
#include "report/TCrawlReport.h"
#include "report/TMarkup.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

// An address of both crawls: a page row, an object or a link elsewhere, with
// its verdict in each (none: not listed), and the change expected.
struct TCase {
    const char* Url;
    char Source; // 'p' page row, 'o' object, 'x' external
    std::optional<TVerdict> Past, Now;
    std::optional<TChange> Change;
};

std::string Reason(TVerdict verdict) {
    return verdict == TVerdict::Broken ? "404 Not Found" : "200 OK";
}

// A crawl listing the cases' addresses with their verdicts of when, each
// linked to from page.
TRecordStore Crawl(const std::vector<TCase>& cases, bool now, const std::string& page) {
    TRecordStore store;
    std::int32_t id = 0;
    for (const TCase& c : cases) {
        const std::optional<TVerdict> verdict = now ? c.Now : c.Past;
        if (!verdict)
            continue;
        ++id;
        if (c.Source == 'p') {
            store.AddPageRow({id, 1, c.Url, 1, 200, "text/html", *verdict, Reason(*verdict)});
        } else if (c.Source == 'o') {
            TAddressEntry& entry = store.Entry(c.Url);
            entry.Object = std::make_unique<_TObjectType>();
            entry.Object->Id = id;
            entry.Object->Url = c.Url;
            entry.Object->Kind = KIND_OBJECT;
            entry.Verdict = *verdict;
            entry.Reason = store.Keep(Reason(*verdict));
            store.CountObject();
        } else {
            TExternalRow& row = store.AddExternal(c.Url, 1);
            row.Verdict = *verdict;
            row.Reason = Reason(*verdict);
            store.ApplyExternal();
        }
    }
    store.BeginMerge(page);
    std::uint32_t line = 0;
    for (const TCase& c : cases)
        if (now ? c.Now : c.Past)
            store.AddReference(c.Url, c.Source == 'o' ? KIND_OBJECT : KIND_PAGE, 1, true, ++line);
    store.EndMerge();
    return store;
}

// Runs a checker over a file; its output, or a failure when it does not end well.
std::string Checked(const std::string& program, const std::vector<std::string>& arguments) {
    TChildProcess child(program, arguments);
    EXPECT_TRUE(child.Start());
    EXPECT_TRUE(child.Wait(std::chrono::seconds(30)));
    EXPECT_EQ(child.ExitCode(), 0) << child.Err();
    return child.Out();
}

} // namespace

// Broken is what counts: unverifiable is not broken, and an address that
// cannot be verified now was not fixed.
TEST(Compare, ListsWhatBrokeWasFixedIsNewAndIsGoneInTheOrderOfTheCrawls) {
    using V = TVerdict;
    using C = TChange;
    const std::vector<TCase> cases{
        {"http://h/same", 'p', V::Fine, V::Fine, std::nullopt},
        {"http://h/gone", 'p', V::Broken, std::nullopt, C::Gone},
        {"http://h/a", 'p', V::Fine, V::Broken, C::Broke},
        {"http://h/fixed", 'p', V::Broken, V::Redirected, C::Fixed},
        {"http://h/unsure", 'p', V::Broken, V::Unverifiable, std::nullopt},
        {"http://h/was-unsure", 'p', V::Unverifiable, V::Broken, C::Broke},
        {"http://h/still", 'p', V::Broken, V::Broken, std::nullopt},
        {"http://h/new", 'p', std::nullopt, V::Unverifiable, C::New},
        {"http://h/i.gif", 'o', V::Redirected, V::Broken, C::Broke},
        {"http://h/added.png", 'o', std::nullopt, V::Broken, C::Broke},
        {"http://h/old.png", 'o', V::Fine, std::nullopt, C::Gone},
        {"http://o/x", 'x', V::Broken, V::Fine, C::Fixed},
        {"http://o/y", 'x', std::nullopt, V::Fine, C::New},
    };
    const TRecordStore past = Crawl(cases, false, "http://h/was");
    const TRecordStore now = Crawl(cases, true, "http://h/");

    std::vector<TChangeRow> expected;
    for (const C kind : {C::Broke, C::Fixed, C::New, C::Gone})
        for (const TCase& c : cases)
            if (c.Change == kind)
                expected.push_back({kind,
                                    c.Url,
                                    c.Past ? TCrawlCompare::Status(*c.Past, Reason(*c.Past)) : "",
                                    c.Now ? TCrawlCompare::Status(*c.Now, Reason(*c.Now)) : "",
                                    {kind == C::Gone ? "http://h/was" : "http://h/"}});
    const std::vector<TChangeRow> changes = TCrawlCompare::Of(past, now);
    ASSERT_EQ(changes.size(), expected.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(expected[i].Url);
        EXPECT_EQ(changes[i], expected[i]);
    }
    EXPECT_EQ(changes.front().OldStatus, "fine: 200 OK");
    EXPECT_EQ(changes.front().NewStatus, "broken: 404 Not Found");
    EXPECT_EQ(TCrawlCompare::Count(changes), (std::array<std::size_t, 4>{4, 2, 2, 2}));
    EXPECT_TRUE(TCrawlCompare::Of(now, now).empty());

    // The same site served at another address before (a folder on another
    // port): its addresses line up by their place on the site.
    std::vector<TCase> moved = cases;
    std::vector<std::string> urls;
    urls.reserve(moved.size());
    for (TCase& c : moved)
        if (std::string_view(c.Url).starts_with("http://h/"))
            c.Url = urls.emplace_back(std::string("http://h:8080/") + (c.Url + 9)).c_str();
    const std::vector<TChangeRow> across =
        TCrawlCompare::Of(Crawl(moved, false, "http://h:8080/was"), now);
    EXPECT_EQ(TCrawlCompare::Count(across), (std::array<std::size_t, 4>{4, 2, 2, 2}));
    EXPECT_EQ(across.back().Url, "http://h:8080/old.png"); // gone: as it was
}

// The changes in every format, each row in its place; addresses and paths a
// page or a person controls stay text, and what goes to CI is valid JUnit.
TEST(Compare, WritesTheChangesInEveryFormat) {
    using V = TVerdict;
    using C = TChange;
    const std::vector<TCase> cases{
        {"http://h/\"><script>alert(1)</script>", 'p', V::Fine, V::Broken, C::Broke},
        {"http://h/i.gif", 'o', std::nullopt, V::Broken, C::Broke},
        {"http://o/x?a=1&b=<2>", 'x', V::Broken, V::Fine, C::Fixed},
        {"http://h/new", 'p', std::nullopt, V::Fine, C::New},
        {"javascript:alert(2)//http://h/", 'p', V::Fine, std::nullopt, C::Gone},
    };
    const std::vector<TChangeRow> changes =
        TCrawlCompare::Of(Crawl(cases, false, "http://h/was"), Crawl(cases, true, "http://h/"));
    ASSERT_EQ(changes.size(), cases.size());
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marrowby-compare-" + std::to_string(getpid()));
    ASSERT_EQ(TCrawlReport::WriteSet(TCrawlCompare::Report(changes, "old/", "<i>new</i>.marrowby"),
                                     dir.string(), TCrawlReport::Formats()),
              "");

    const struct {
        const char* File;
        std::function<void(const std::string& text)> Check;
    } table[] = {
        {"compare.csv",
         [&](const std::string& csv) {
             EXPECT_TRUE(csv.starts_with("Change,URI,Old status,New status,Pages\r\nbroke,"));
             EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + changes.size());
         }},
        {"compare.json",
         [&](const std::string& text) {
             QJsonParseError error;
             const QJsonObject json =
                 QJsonDocument::fromJson(QByteArray::fromStdString(text), &error).object();
             ASSERT_EQ(error.error, QJsonParseError::NoError) << text;
             EXPECT_EQ(json["options"].toObject()["new"].toString(), "<i>new</i>.marrowby");
             EXPECT_EQ(json["changes"].toObject(),
                       (QJsonObject{{"broke", 2}, {"fixed", 1}, {"new", 1}, {"gone", 1}}));
             const QJsonArray rows = json["compare"].toArray();
             ASSERT_EQ(rows.size(), static_cast<qsizetype>(changes.size()));
             for (std::size_t i = 0; i < changes.size(); ++i) {
                 const QJsonObject row = rows[static_cast<qsizetype>(i)].toObject();
                 EXPECT_EQ(row["Change"].toString().toStdString(),
                           TCrawlCompare::Name(changes[i].Change));
                 EXPECT_EQ(row["URI"].toString().toStdString(), changes[i].Url);
                 EXPECT_EQ(row["Pages"].toArray(),
                           QJsonArray{QString::fromStdString(changes[i].Pages.front())});
             }
         }},
        {"compare.html",
         [&](const std::string& html) {
             // Each address in its section, the sections in the order of the changes.
             std::size_t at = 0;
             for (const C kind : {C::Broke, C::Fixed, C::New, C::Gone}) {
                 at = html.find(std::string("<section id=\"") + TCrawlCompare::Name(kind), at);
                 ASSERT_NE(at, std::string::npos) << TCrawlCompare::Name(kind);
                 for (const TChangeRow& row : changes)
                     if (row.Change == kind) {
                         at = html.find(TMarkup::Escaped(row.Url), at);
                         EXPECT_NE(at, std::string::npos) << row.Url;
                     }
             }
             EXPECT_NE(html.find("<b>2</b> broke"), std::string::npos);
             EXPECT_EQ(html.find("<script>"), std::string::npos);
             EXPECT_NE(html.find("&lt;i&gt;new&lt;/i&gt;.marrowby"), std::string::npos);
             std::istringstream tags(
                 Checked("/usr/bin/python3", {"-c", R"(
import html.parser, sys
class Tags(html.parser.HTMLParser):
    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            print(tag, name, value if name == 'href' else '-')
        print(tag, '-', '-')
Tags().feed(open(sys.argv[1], encoding='utf-8').read())
)",
                                              (dir / "compare.html").string()}));
             for (std::string line; std::getline(tags, line);) {
                 std::istringstream fields(line);
                 std::string tag, name, value;
                 fields >> tag >> name >> value;
                 EXPECT_NE(tag, "script") << line;
                 EXPECT_FALSE(name.starts_with("on")) << line;
                 if (name == "href") {
                     EXPECT_TRUE(value.starts_with("http://")) << line;
                 }
             }
         }},
        {"compare.xml",
         [&](const std::string& xml) {
             Checked("/usr/bin/xmllint",
                     {"--noout", "--schema", MARROWBY_JUNIT_XSD, (dir / "compare.xml").string()});
             EXPECT_EQ(xml.find("<script>"), std::string::npos);
             EXPECT_NE(xml.find("<testsuites name=\"marrowby compare\" tests=\"3\" "
                                "failures=\"2\""),
                       std::string::npos)
                 << xml;
             EXPECT_NE(xml.find("<testcase name=\"http://h/i.gif\" classname=\"broke\">\n      "
                                "<failure message=\"broken: 404 Not Found\" type=\"broke\">was "
                                "not listed; linked from http://h/</failure>"),
                       std::string::npos)
                 << xml;
         }},
    };
    for (const auto& format : table) {
        SCOPED_TRACE(format.File);
        const std::string text = Slurp(dir / format.File);
        ASSERT_FALSE(text.empty());
        format.Check(text);
    }
    std::filesystem::remove_all(dir);
}
