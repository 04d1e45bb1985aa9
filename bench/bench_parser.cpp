// The scan of big pages: time per tag stays flat from 10 thousand tags to a
// million, that is, the scan is linear in the size of the page.

#include "parser/THtmlParser.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A page of `tags` tags in a mix of text, links, images, skipped tags,
// scripts and stray ">" characters; addresses repeat every 1000 tags.
std::string MakePage(std::int64_t tags) {
    std::string page;
    page.reserve(static_cast<std::size_t>(tags) * 14);
    for (std::int64_t i = 0, n = 0; n < tags; ++i) {
        const std::string id = std::to_string(i % 1000);
        switch (i % 6) {
        case 0:
            page += "<p>Some text > here ";
            n += 1;
            break;
        case 1:
            page += "<a href=\"page" + id + ".html\">link</a>";
            n += 2;
            break;
        case 2:
            page += "<img src=img/" + id + ".gif alt='x y'>";
            n += 1;
            break;
        case 3:
            page += "<b>bold</b>";
            n += 2;
            break;
        case 4:
            page += "<script>var a = b < c;</script>";
            n += 1;
            break;
        default:
            page += "<td nowrap width=5></p>\n";
            n += 2;
            break;
        }
    }
    return page;
}

void BM_ParsePage(benchmark::State& state) {
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
    const std::string page = MakePage(state.range(0));
    for (auto _ : state) {
        THtmlParser parser(nullptr);
        parser.SetUrl("http://host/d1/d2/page.html");
        parser.SetDocument(page);
        parser.Parse();
        benchmark::DoNotOptimize(parser.Anchors().size());
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}

} // namespace

BENCHMARK(BM_ParsePage)
    ->RangeMultiplier(10)
    ->Range(10'000, 1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();
