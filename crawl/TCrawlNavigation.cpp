// The choice and start of each page, the end of the crawl, a failed download
// and the steps a page passes through on its way to the pause.
#include "TCrawl.h"

#include "TAnsiText.h"
#include "TAnswerRecord.h"
#include "http/TRequestScheduler.h"
#include "platform/TMessagePump.h"

#include <QTimer>
#include <QUrl>

#include <utility>

void TCrawl::OnNavigationStart(TMessage&) {
    TMessagePump::KeepResponsive();
    if (FClosing)
        return;
    SetStatus("On Navigation Start");
    if (!FRunning || FPageInFlight)
        return;
    FDelayTimer->stop();
    if (FReopening && FGoneList.size() >= FReplayPages) {
        // Where the kept crawl stopped, once the journal's answers on their
        // way are in.
        if (FReplayPending > 0)
            ScheduleNavigationStart();
        else
            EndReopen();
        return;
    }
    if (!CommitPage())
        return;
    if (AwaitRobots())
        return; // its answer starts the page
    if (FGoneList.empty() && FGoingList.empty()) {
        const std::string address = FTypedAddress;
        // Known from the start, so a link back to it counts on its record.
        auto record = std::make_unique<_TObjectType>();
        record->Kind = KIND_PAGE;
        record->Id = ++FLastRecordId;
        FRecords.Entry(address).Page = std::move(record);
        FGoneList.push_back(FRecords.Stored(address));
        StartDownload(address);
        return;
    }
    const bool enough =
        FOptions.MaxPages >= 0 && FGoneList.size() >= static_cast<std::size_t>(FOptions.MaxPages);
    if (FGoingList.empty() || enough) {
        FDelayTimer->stop();
        FinishCrawl();
        return;
    }
    const std::string address(FGoingList.front());
    FGoneList.push_back(FGoingList.front());
    FGoingList.pop_front();
    StartDownload(address);
}

bool TCrawl::AwaitRobots() {
    if (!FOptions.Robots || FRobotsRead)
        return false;
    if (FRobotsRequest == 0) {
        QUrl robots(QString::fromStdString(FTypedAddress));
        robots.setPath("/robots.txt");
        robots.setQuery(QString());
        robots.setFragment(QString());
        TRequest request =
            Request(TRequest::Robots(0, robots.toString(QUrl::FullyEncoded).toStdString()));
        FRobotsRequest = request.Id;
        Submit(std::move(request));
    }
    return true;
}

bool TCrawl::StartDownload(const std::string& address) {
    // Met before as an object whose probe kept what the page needs.
    std::optional<TAnswer> kept = TakeKeptAnswer(address);
    if (FOptions.Robots && !FRobots.Allows(TRobotsRules::PathOf(address))) {
        _TObjectType* page = FRecords.Page(address);
        AddGoneRow({page ? page->Id : -1, page ? page->Depth : 0, address, -1, 0, "",
                    TVerdict::Unverifiable, "disallowed by robots.txt"});
        ScheduleNavigationStart(); // nothing was asked: no pause
        return false;
    }
    FPageInFlight = true;
    // A kept answer serves the page; an early request for it is not needed.
    if (kept)
        CancelNextRequest();
    const bool early = !kept && TakeNextRequest(address);
    if (!early) {
        TRequest request = Request(TRequest::Page(0, address));
        request.KeepHtmlOnly = true; // another type is checked like an object
        FPageRequest = request.Id;
        if (!kept)
            Submit(std::move(request));
    }
    FPageAddress = address;
    PostMessage(FHandle, WM_DOWNLOAD_START, 0, 0);
    FListener->PageStarted(FGoneList.size(), FGoingList.size());
    FListener->Caption(TAnsiText::ToDisplay(address) + " 페이지를 탐색 중입니다");
    if (kept) {
        kept->Id = FPageRequest;
        Deliver(std::move(*kept)); // goes on as the scheduler's answer would
    } else if (early && FNextAnswer) {
        // An early answer already in goes on as if it had come now.
        TAnswer answer = std::move(*FNextAnswer);
        FNextAnswer.reset();
        Deliver(std::move(answer));
    }
    return true;
}

void TCrawl::RequestNextPage() {
    // A crawl read back takes each page's answer when the page comes up: the
    // kept crawl may not have had the next one yet.
    if (FDelaySeconds != 0 || FNextRequest != 0 || FGoingList.empty() || FClosing || FReopening)
        return;
    if (FOptions.MaxPages >= 0 && FGoneList.size() >= static_cast<std::size_t>(FOptions.MaxPages))
        return; // the crawl ends before it
    const std::string address(FGoingList.front());
    if (FOptions.Robots && !FRobots.Allows(TRobotsRules::PathOf(address)))
        return; // listed without a request
    if (FKeptAnswers.contains(address))
        return; // a probe's answer serves it
    TRequest request = Request(TRequest::Page(0, address));
    request.KeepHtmlOnly = true;
    FNextRequest = request.Id;
    FNextAddress = address;
    FNextAnswer.reset();
    Submit(std::move(request));
}

bool TCrawl::TakeNextRequest(const std::string& address) {
    if (FNextRequest == 0)
        return false;
    if (FNextAddress != address) {
        CancelNextRequest();
        return false;
    }
    FPageRequest = std::exchange(FNextRequest, 0);
    FNextAddress.clear();
    return true;
}

void TCrawl::CancelNextRequest() {
    if (FNextRequest != 0)
        CancelRequest(FNextRequest);
    FNextRequest = 0;
    FNextAddress.clear();
    FNextAnswer.reset();
}

void TCrawl::FinishCrawl() {
    if (FRecords.ExternalsApplied() < FRecords.ExternalCount()) {
        // The last links to other sites are still being checked.
        FAwaitingExternals = true;
        SetStatus("Checking links to other sites");
        return;
    }
    FAwaitingExternals = false;
    FKeptAnswers.clear(); // their pages will not come up
    FKeptBytes = 0;
    // The checks at the end come first; theirs finishes the crawl.
    if (AwaitEndChecks())
        return;
    if (!CommitPage())
        return;
    Perform(WM_NAVIGATION_END); // the clock stops at the crawl's length
    FListener->Finished("탐색이 끝났습니다");
}

void TCrawl::OnNavigationEnd(TMessage&) {
    SetStatus("On Navigation End");
    FSysTime->stop();
    TMessagePump::ProcessMessages();
}

void TCrawl::OnContentFileDownLoadStart(TMessage&) {
    SetStatus("On Content File DownLoad Start");
    TMessagePump::KeepResponsive();
}

void TCrawl::OnContentFileDownLoadFailed(TMessage&) {
    if (FClosing || FPageRequest == 0 || FPageAnswer.Id != FPageRequest)
        return; // not the answer of the page in flight
    FPageRequest = 0;
    const std::string address = std::move(FPageAddress);
    const TAnswerRecord::TPage page = TAnswerRecord::Page(FPageAnswer);
    const TVerdict verdict = TAnswerRecord::Verdict(FPageAnswer);
    FPageAnswer = {};
    // No id, as no page came; the depth is the record's, one more than the
    // page that links to it.
    const _TObjectType* record = FRecords.Page(address);
    AddGoneRow({-1, record ? std::int32_t{record->Depth} : 0, address, -1, 404, "NotFound", verdict,
                page.Reason});
    SetStatus(TAnsiText::ToDisplay(address) + " On Content File DownLoad Failed");
    FPageInFlight = false;
    ScheduleNavigationStart(); // at once, without the pause
}

void TCrawl::OnParseStart(TMessage&) {
    SetStatus("Parsing을 시작 되었습니다.");
    TMessagePump::KeepResponsive();
}

void TCrawl::OnThreadDataMoveStart(TMessage&) {
    TMessagePump::KeepResponsive();
    if (FClosing)
        return;
    SetStatus("쓰레드 Data를 메인으로 옮깁니다.");
    Perform(WM_DATA_MOVE_END);
}

void TCrawl::OnThreadDataMoveEnd(TMessage&) {
    TMessagePump::KeepResponsive();
    if (FClosing)
        return;
    SetStatus("쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다.");
    StartPause();
}
