#include "crawl/TRecordStore.h"
#include "report/TCrawlCompare.h"

#include <gtest/gtest.h>

#include <optional>

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
            entry.Reason = Reason(*verdict);
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
