#pragma once
// One crawl: from the typed address, page by page, breadth-first, with a
// pause between pages. It owns the workers of the page in flight, the queue,
// the records of every page and object found, and the clock; it tells a
// listener everything there is to show. It needs no window: the window and
// the headless run both watch it.
//
// The workers post their messages to the crawl's own handle; the crawl sends
// some to itself (Perform) to move from step to step, so one page is a chain
// of nested handlers. Several handlers pump the queue, and every one checks
// FClosing when the pump returns: Stop may have come in meanwhile.
//
// The implementation is split by concern:
//   TCrawl.cpp            construction, Enter, the delay, the clock, the pause
//   TCrawlDispatch.cpp    routing of messages to their handlers
//   TCrawlNavigation.cpp  the choice and start of each page, a failed download
//   TCrawlHandoff.cpp     a downloaded page goes to the parser
//   TCrawlMerge.cpp       the parser's results go into the records
//   TCrawlProbe.cpp       the requests: answers in, object probes of a merge
//   TCrawlStop.cpp        stopping every worker
//   TCrawlEndChecks.cpp   the checks at the end: soft 404s, the confirmation pass
//   TCrawlRecheck.cpp     a re-check of what failed, when a person asks for it

#include "TConfirmPass.h"
#include "TCrawlListener.h"
#include "TCrawlOptions.h"
#include "TRecordStore.h"
#include "TRobotsRules.h"
#include "TSoftNotFound.h"
#include "common/Messages.h"
#include "common/TContentStruct.h"
#include "common/TObjectType.h"
#include "http/TAnswer.h"
#include "http/TRequest.h"
#include "platform/TWindowHandle.h"

#include <QObject>
#include <QRegularExpression>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTimer;
class TCrawlJournal;
class THtmlParser;
class TRequestScheduler;
struct TRequest;

class TCrawl : public QObject {
public:
    explicit TCrawl(TCrawlListener& listener, QObject* parent = nullptr);
    ~TCrawl() override;

    // Enter in the address box with typed in it: starts the crawl, or goes on
    // with its queue. Nothing happens for a blank address.
    void Enter(const QString& typed);
    // The page a crawl typed so starts from, without a login: two typings of
    // one start address give the same.
    static std::string StartAddress(const QString& typed);
    // Applies a delay as typed into the delay box. Returns the error to show
    // when the text is not a whole number of seconds, 0 or more; else empty.
    QString ApplyDelay(const QString& text);
    // How the crawl treats servers and how far it goes. Read at the first
    // Enter; later changes go to the next crawl.
    void SetOptions(TCrawlOptions options) { FOptions = std::move(options); }
    const TCrawlOptions& Options() const noexcept { return FOptions; }
    // Stops every worker and frees the records, in an order that never lets
    // a worker or a nested handler touch what is gone. Final: a stopped crawl
    // drops every message and tells its listener nothing more.
    void Stop();
    // Keeps every answer the crawl is given in journal, a page at a time,
    // and takes the answers journal holds instead of asking for them
    // (TCrawlJournal); null: none. Set before the first Enter; the crawl does
    // not own it. A commit that fails halts the crawl with an Error.
    void SetJournal(TCrawlJournal* journal);
    // Reads a kept crawl back: as Enter, but only the journal's answers are
    // taken and nothing is asked; once the pages the journal holds are done,
    // the crawl halts where the kept one stopped and the listener hears
    // Reopened. The next Enter goes on with its queue.
    void Reopen(const QString& typed);
    // Ends the crawl where it is and keeps everything found: the workers of
    // the page in flight stop (a page still downloading goes back to the
    // front of the queue), and so do the clock and the pause. The next Enter
    // goes on with the queue.
    void Halt();
    // Asks again for every broken or unverifiable address of the records
    // (only those of addresses, when given, whatever their verdict), at the
    // crawl's pace and with its retries, and judges their rows again in
    // place; the listener hears Rechecking as it goes and Finished at its
    // end, and a halt ends it. A page robots.txt kept out, an excluded page
    // and a soft 404 are not asked. Returns how many addresses are asked;
    // 0 (nothing is told) when none is, or while the crawl or its checks run.
    std::size_t Recheck(const std::vector<std::string>& addresses = {});
    bool Rechecking() const noexcept { return FRecheck && FRecheck->Running(); }
    // The records of a report read back, to be re-checked: before any Enter.
    void Load(TRecordStore records);
    // True while one of the crawl's handlers is on the stack: a stopped crawl
    // may be deleted only when this is false.
    bool Busy() const noexcept { return FNesting > 0; }

    // Routes one crawl message to its handler. False for a number the crawl
    // does not handle.
    bool Dispatch(TMessage& message);
    // Sends a message to this crawl synchronously, nested in the caller.
    std::intptr_t Perform(unsigned msg, std::uintptr_t wParam = 0, std::uintptr_t lParam = 0);

    // The probe of one of the page's new objects, all of which are asked for
    // when the merge begins. Queued messages and input are handled while it
    // waits, so the crawl may be stopping when it returns. verdict and
    // reason receive what the answer says of the object.
    _TContent_Struct GetObjData(const std::string& address, TVerdict& verdict, std::string& reason);

    // The clock and the pause, one tick a second.
    void SysTimeTimer();
    void DelayTimerTimer();

    // Message handlers.
    void OnParseStart(TMessage& message);
    void OnParserEnd(TMessage& message);
    void OnNavigationStart(TMessage& message);
    void OnNavigationEnd(TMessage& message);
    void OnContentFileDownLoadStart(TMessage& message);
    void OnContentFileDownLoadEnd(TMessage& message);
    void OnContentFileDownLoadFailed(TMessage& message);
    void OnThreadDataMoveStart(TMessage& message);
    void OnThreadDataMoveEnd(TMessage& message);

    // Read access for the view, the reports and the tests.
    const HWND& Handle() const noexcept { return FHandle; }
    // Every address found, its record and its referrers; the report rows.
    const TRecordStore& Records() const noexcept { return FRecords; }
    bool Running() const noexcept { return FRunning; }
    bool Closing() const noexcept { return FClosing; }
    bool PageInFlight() const noexcept { return FPageInFlight; }
    std::uint32_t ElapsedSeconds() const noexcept { return FElapsedSeconds; }
    const std::string& StartHost() const noexcept { return FStartHost; }
    const std::vector<std::string_view>& GoneList() const noexcept { return FGoneList; }
    const std::deque<std::string_view>& GoingList() const noexcept { return FGoingList; }
    std::int32_t LastRecordId() const noexcept { return FLastRecordId; }
    std::int32_t LastObjectId() const noexcept { return FLastObjectId; }
    // A page's request is under way, or the robots.txt the first page waits for.
    bool Downloading() const noexcept { return FPageRequest != 0 || FRobotsRequest != 0; }
    const THtmlParser* Parser() const noexcept { return FParser.get(); }
    std::int32_t DelaySeconds() const noexcept { return FDelaySeconds; }
    std::uint32_t DelayTick() const noexcept { return FDelayTick; }
    std::int32_t InternalLinks() const noexcept { return FInternalLinks; }
    std::int32_t ExternalLinks() const noexcept { return FExternalLinks; }
    const std::vector<_TObjectType*>& ParsedAnchors() const noexcept { return FParsedAnchors; }
    const QTimer& SysTime() const noexcept { return *FSysTime; }
    const QTimer& DelayTimer() const noexcept { return *FDelayTimer; }

protected:
    bool event(QEvent* event) override;

private:
    void SetStatus(const QString& text);
    // Fetches the page, unless robots.txt or the scope keeps it out; false
    // when it was listed without a request.
    bool StartDownload(const std::string& address);
    // Asks for the start host's robots.txt; true when the first page must
    // wait for its answer.
    bool AwaitRobots();
    void ScheduleNavigationStart();
    // Asks for the next page of the queue early (see FNextRequest), when
    // there is no pause and it will be fetched.
    void RequestNextPage();
    // The early request, if it is for address: it becomes the page's.
    bool TakeNextRequest(const std::string& address);
    void CancelNextRequest();
    void AddGoneRow(const TGoneRow& row);
    void StartPause();
    std::uint32_t PauseLeft() const; // a pause is running
    void FinishCrawl();
    // A page link to another site: checked once, counted each time.
    void CheckExternal(const std::string& address, std::int32_t count);
    void SubmitExternal(std::int32_t id);
    // Applies the external answers that have come, in the order of their ids;
    // ends a crawl that waits only for them.
    void ApplyExternals();
    // Every answer comes here, from the event loop: the scheduler's, a
    // journal's, a probe's kept for its page.
    void Deliver(TAnswer answer);
    // Every request goes out here: a journal that holds its answer answers
    // it instead (TCrawlReplay.cpp).
    void Submit(TRequest request);
    void CancelRequest(std::uint64_t id);
    // The scheduler's answers: kept in the journal, then delivered.
    void Received(TAnswer answer);
    // The journal keeps what came, with where the crawl stands; why it
    // could not, else empty.
    std::string CommitJournal();
    // The crawl is between two pages: the journal keeps what came. False when
    // it could not, and the crawl has halted.
    bool CommitPage();
    // The pages of the crawl being read back are not all done yet.
    bool Replaying() const;
    // A crawl read back has come to where the kept one stopped: it halts there.
    void EndReopen();
    // A request of this crawl, with its login and a fresh id.
    TRequest Request(TRequest request);
    TRequestScheduler& Scheduler();
    // The checks at the end of the crawl (TCrawlEndChecks.cpp). True while
    // one is under way: its end finishes the crawl.
    bool AwaitEndChecks();
    void ScheduleFinish();
    // What an answer tells beyond its row: a permanent redirect, an address
    // to confirm at the end.
    void NoteAnswer(const TAnswer& answer);
    void NoteRedirect(const std::string& address, const TAnswer& answer);
    void NoteSoftNotFoundPage(const std::string& address, const std::string& body);
    void ApplySoftNotFound(const TAnswer& answer);
    TRequest ConfirmRequest(const TConfirmPass::TItem& item);
    void Confirmed(const TConfirmPass::TItem& item, TAnswer answer);
    void HaltEndChecks();
    void Rechecked(const TConfirmPass::TItem& item, TAnswer answer);
    // The answer of an address asked again judges its rows: every row of the
    // address, or only those still unverifiable.
    void Rejudge(const TConfirmPass::TItem& item, const TAnswer& answer, bool onlyUnverifiable);
    bool MergeObjects();
    bool MergeObjectsInOrder();
    // One answer serves an address met both as a page and as an object. The
    // page already fetched whose answer gives the object at address its
    // row, or null.
    const _TObjectType* FetchedPage(const std::string& address) const;
    // Whether the probe of the object at address keeps an HTML body for the
    // page of that address, which is to come (a page named by <link
    // rel=next> and linked from the page being merged).
    bool KeepsForPage(const std::string& address, std::unordered_set<std::string_view>& pageLinks);
    // The answers of the merge's kept probes that went well wait for their pages.
    void KeepForPages();
    // A probe's answer kept for the page at address, taken; none: nullopt.
    std::optional<TAnswer> TakeKeptAnswer(const std::string& address);
    bool MergeAnchors();
    _TObjectType& RecordDownloadedPage(const std::string& url, const _TContent_Struct& header);

    // Counts the handlers on the stack while it lives. When the last one of
    // a stopped crawl returns, the event loop is woken: a request to leave it
    // that came in while a handler was pumping the queue may have spent the
    // loop's wake-up already, and the loop would then sleep on with no
    // event left to come.
    struct TNesting {
        explicit TNesting(TCrawl& crawl) : FCrawl(crawl) { ++FCrawl.FNesting; }
        ~TNesting();
        TNesting(const TNesting&) = delete;
        TNesting& operator=(const TNesting&) = delete;
        TCrawl& FCrawl;
    };

    TCrawlListener* FListener;
    HWND FHandle;
    QTimer* FSysTime = nullptr;
    QTimer* FDelayTimer = nullptr;

    // Crawl state.
    bool FRunning = false;
    std::uint32_t FElapsedSeconds = 0;
    std::string FStartHost;
    // The pages begun, in order, as the record store holds their addresses.
    std::vector<std::string_view> FGoneList;
    // The pages still to visit, as the record store holds their addresses.
    std::deque<std::string_view> FGoingList;
    std::int32_t FLastRecordId = 0;
    // Every request of the crawl goes through it; made at the first Enter.
    std::unique_ptr<TRequestScheduler> FScheduler;
    std::uint64_t FLastRequestId = 0;
    // The request of the page in flight (0: none), and its answer once in.
    std::uint64_t FPageRequest = 0;
    std::string FPageAddress;
    TAnswer FPageAnswer;
    // With no pause between pages, the page at the front of the queue is
    // asked for as soon as the page before it has answered, so that its
    // answer is on its way while the page before is parsed and merged: its
    // request (0: none), its address, and its answer once in.
    std::uint64_t FNextRequest = 0;
    std::string FNextAddress;
    std::optional<TAnswer> FNextAnswer;
    std::unique_ptr<THtmlParser> FParser;
    // The parsers' skip list, read at the crawl's first page.
    std::shared_ptr<const std::vector<std::string>> FSkipList;
    bool FClosing = false;
    std::int32_t FDelaySeconds = 60;
    std::uint32_t FDelayTick = 1;

    // Merge state.
    std::vector<_TObjectType*> FParsedAnchors;
    std::vector<_TObjectType*> FParsedObjects;
    std::int32_t FLastObjectId = 0;
    std::int32_t FInternalLinks = 0;
    std::int32_t FExternalLinks = 0;

    // The journal of answers (SetJournal), and whether the crawl is only
    // being read back from it (Reopen).
    TCrawlJournal* FJournal = nullptr;
    bool FReopening = false;
    // The pages the journal held when it was set, the journal's answers on
    // their way, and the keys of the requests that went out.
    std::size_t FReplayPages = 0;
    int FReplayPending = 0;
    std::unordered_map<std::uint64_t, std::string> FJournalKeys;

    // Every address met, with its record, its failure and its referrers; the
    // visited-pages rows; the pages in merge order with what was found on each.
    TRecordStore FRecords;

    // The address typed at the last Enter, in the crawl's form: the first page.
    // A user name and password typed in it are taken out into FLogin, which
    // goes with the requests to the start server only; no address the crawl
    // keeps or shows ever holds them.
    std::string FTypedAddress;
    TRequest::TLogin FLogin;
    // A page is between its navigation start and the end of its merge.
    bool FPageInFlight = false;
    // The page being parsed and merged.
    std::string FParsingPage;
    TCrawlOptions FOptions;
    // The probes of the page being merged: each new object's request, and
    // its answer once in.
    std::unordered_map<std::string, std::uint64_t> FPageProbes;
    std::unordered_map<std::uint64_t, std::optional<TAnswer>> FProbeAnswers;
    // Those of them that keep an HTML body for a page to come; the answers
    // kept so (by address), until their page comes up, and their bodies' bytes.
    std::unordered_set<std::uint64_t> FKeptProbes;
    std::unordered_map<std::string, TAnswer> FKeptAnswers;
    std::size_t FKeptBytes = 0;
    // The probe whose answer GetObjData is waiting for (0: none).
    std::uint64_t FAwaitedProbe = 0;
    // The checks of links to other sites under way (request id to row id),
    // the answers in before those of lower ids, the checks a halt cut short,
    // and whether the crawl's end waits for them.
    std::unordered_map<std::uint64_t, std::int32_t> FExternalRequests;
    std::map<std::int32_t, TAnswer> FExternalArrived;
    std::vector<std::int32_t> FExternalsToResume;
    bool FAwaitingExternals = false;
    // --include and --exclude, made at Enter: a page link outside them is
    // listed as "excluded" and not requested.
    QRegularExpression FInclude, FExclude;
    // pages: --include applies too (it names the pages to fetch).
    bool Excluded(const std::string& address, bool pages = true) const;
    // The start host's robots.txt: asked before the first page, read once.
    TRobotsRules FRobots;
    std::uint64_t FRobotsRequest = 0;
    bool FRobotsRead = false;
    // The start address's site (TSiteKey): its pages are the crawl's.
    std::string FStartSite;
    bool FStopped = false;
    // Halted by the user; FClosing stays set until the next Enter finds no
    // handler of the halted page on the stack.
    bool FHalted = false;
    int FNesting = 0;
    // Soft 404s: the pages that answered 200 with HTML, and the request for
    // an address beside the first of them that cannot exist (asked once).
    TSoftNotFound FSoftNotFound;
    std::string FSoftBeside;
    std::uint64_t FSoftRequest = 0;
    bool FSoftAsked = false;
    // The addresses asked once more at the end.
    TConfirmPass FConfirm{[this](const TConfirmPass::TItem& item, TAnswer answer) {
        Confirmed(item, std::move(answer));
    }};
    // The re-check a person asked for; made anew at each.
    std::unique_ptr<TConfirmPass> FRecheck;
};
