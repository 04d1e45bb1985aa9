// What keeping a crawl's answers costs a page: recording and committing a
// page's answers (its page, two objects), replaying them from the file, and
// a key the file does not hold, on a file of 20,000 pages.

#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TReport.h"
#include "store/TAnswerCodec.h"
#include "store/TCrawlRecorder.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <string>

namespace {

constexpr std::size_t FilePages = 20000;

// A page of about 8 KiB of markup, different on each page.
TAnswer PageAnswer(std::size_t page) {
    TAnswer a;
    a.Status = 200;
    a.StatusText = "200";
    a.FinalAddress = "http://127.0.0.1/p" + std::to_string(page) + ".html";
    a.ContentType = "text/html";
    a.Body = "<!DOCTYPE html><html><head><title>Page " + std::to_string(page) + "</title></head>";
    for (std::size_t i = 0; a.Body.size() < 8000; ++i)
        a.Body += "<p>Paragraph " + std::to_string(page * 31 + i) + " with <a href=\"p" +
                  std::to_string((page * 7 + i) % 1000000) + ".html\">a link</a> and text.</p>\n";
    a.BodyBytes = std::int64_t(a.Body.size());
    a.BodyRead = true;
    return a;
}

TAnswer ObjectAnswer() {
    TAnswer a;
    a.Status = 200;
    a.StatusText = "200";
    a.Method = TRequest::TMethod::Head;
    a.ContentType = "image/png";
    a.DeclaredLength = 4711;
    return a;
}

std::string Key(const char* how, std::size_t page, const char* what) {
    return std::string(how) + " http://127.0.0.1/" + what + std::to_string(page);
}

void RecordPage(TCrawlRecorder& recorder, std::size_t page, const TAnswer& body,
                const TAnswer& object) {
    recorder.Record(Key("GET keep-html 67108864", page, "p"), body);
    recorder.Record(Key("HEAD skip 0", page, "a"), object);
    recorder.Record(Key("HEAD skip 0", page, "b"), object);
}

const std::string& FileOfPages() {
    static QTemporaryDir dir;
    static const std::string path = [] {
        const std::string p = dir.filePath("bench.marrowby").toStdString();
        std::string error;
        auto recorder = TCrawlRecorder::Create(p, {}, {}, error);
        for (std::size_t page = 0; page < FilePages; ++page) {
            RecordPage(*recorder, page, PageAnswer(page), ObjectAnswer());
            recorder->Commit({page + 1, 0, 2 * page, 0}, TRecordStore());
        }
        return p;
    }();
    return path;
}

void BM_EncodePage(benchmark::State& state) {
    const TAnswer page = PageAnswer(1);
    TAnswerCodec codec;
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.Encode(page));
    state.SetItemsProcessed(state.iterations());
    state.counters["page_bytes"] = double(page.Body.size());
    state.counters["kept_bytes"] = double(codec.Encode(page).size());
}

void BM_CommitPage(benchmark::State& state) {
    QTemporaryDir dir;
    std::string error;
    auto recorder =
        TCrawlRecorder::Create(dir.filePath("bench.marrowby").toStdString(), {}, {}, error);
    const TAnswer object = ObjectAnswer();
    std::size_t page = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const TAnswer body = PageAnswer(page);
        state.ResumeTiming();
        RecordPage(*recorder, page, body, object);
        if (!recorder->Commit({++page, 0, 0, 0}, TRecordStore()).empty())
            state.SkipWithError("commit failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReplayPage(benchmark::State& state) {
    const std::string& path = FileOfPages();
    std::unique_ptr<TCrawlRecorder> recorder;
    std::size_t page = FilePages;
    for (auto _ : state) {
        if (page == FilePages) {
            state.PauseTiming();
            TCrawlOptions options;
            TReport about;
            std::string error;
            recorder.reset();
            recorder = TCrawlRecorder::Open(path, options, about, error);
            page = 0;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(recorder->Replay(Key("GET keep-html 67108864", page, "p")));
        benchmark::DoNotOptimize(recorder->Replay(Key("HEAD skip 0", page, "a")));
        benchmark::DoNotOptimize(recorder->Replay(Key("HEAD skip 0", page, "b")));
        ++page;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReplayMiss(benchmark::State& state) {
    TCrawlOptions options;
    TReport about;
    std::string error;
    auto recorder = TCrawlRecorder::Open(FileOfPages(), options, about, error);
    std::size_t page = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(recorder->Replay(Key("GET keep 67108864", page++, "never")));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_EncodePage);
BENCHMARK(BM_CommitPage)->Iterations(20000);
BENCHMARK(BM_ReplayPage);
BENCHMARK(BM_ReplayMiss);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
