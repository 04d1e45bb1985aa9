// Construction, Enter, the delay, the clock and the pause between pages.
#include "TCrawl.h"

#include "TAddressLogin.h"
#include "TAnsiText.h"
#include "TSiteKey.h"
#include "http/TRequestScheduler.h"
#include "parser/THtmlParser.h"
#include "parser/TLinkResolver.h"
#include "platform/TIdURI.h"
#include "platform/TMessagePump.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The typed address in the form that resolution gives an absolute link: with
// a scheme ("http://" when none was typed), without a login (which goes to
// login), as the URL standard writes it and without one trailing "/".
std::string NormalizeTypedAddress(const QString& typed, TRequest::TLogin& login) {
    QString address = typed.trimmed();
    if (!address.startsWith("http://", Qt::CaseInsensitive) &&
        !address.startsWith("https://", Qt::CaseInsensitive))
        address.prepend("http://");
    login = TAddressLogin::Take(address);
    const std::string text = TAnsiText::FromTyped(address);
    std::string resolved;
    if (TLinkResolver().Resolve(text, resolved))
        return resolved;
    return text.ends_with('/') ? text.substr(0, text.size() - 1) : text;
}

} // namespace

TCrawl::TCrawl(TCrawlListener& listener, QObject* parent)
    : QObject(parent), FListener(&listener), FHandle(TWindowHandle::Create(this)) {
    FSysTime = new QTimer(this);
    FSysTime->setInterval(1000);
    connect(FSysTime, &QTimer::timeout, this, [this] { SysTimeTimer(); });
    FDelayTimer = new QTimer(this);
    FDelayTimer->setInterval(1000);
    connect(FDelayTimer, &QTimer::timeout, this, [this] { DelayTimerTimer(); });
}

TCrawl::~TCrawl() {
    // Normally Stop has ended everything already; a crawl destroyed without
    // it must not leave a worker behind either.
    Stop();
}

void TCrawl::Enter(const QString& typed) {
    if (FStopped || typed.trimmed().isEmpty())
        return;
    if (FHalted) {
        if (Busy()) {
            // The halted page's handlers are still unwinding: go on after them.
            QTimer::singleShot(10, this, [this, typed] { Enter(typed); });
            return;
        }
        FHalted = false;
        FClosing = false;
    }
    FElapsedSeconds = 0;
    FListener->Clock(0);
    FSysTime->start();
    FRunning = true;
    FTypedAddress = NormalizeTypedAddress(typed, FLogin);
    FStartHost = TIdURI(FTypedAddress).Host();
    FStartSite = TSiteKey::Of(FTypedAddress);
    // Whole addresses; a pattern that does not compile (the callers check
    // first) leaves everything in.
    const auto whole = [](const std::string& pattern) {
        return pattern.empty() ? QRegularExpression()
                               : QRegularExpression(QRegularExpression::anchoredPattern(
                                     QString::fromStdString(pattern)));
    };
    FInclude = whole(FOptions.Include);
    FExclude = whole(FOptions.Exclude);
    // Checks a halt cut short are asked again.
    for (const std::int32_t id : std::exchange(FExternalsToResume, {}))
        SubmitExternal(id);
    // A page already on its way finishes first; its end leads to the next one.
    if (!FPageInFlight)
        Perform(WM_NAVIGATION_START);
}

std::string TCrawl::StartAddress(const QString& typed) {
    TRequest::TLogin login;
    return NormalizeTypedAddress(typed, login);
}

QString TCrawl::ApplyDelay(const QString& text) {
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return QString("'%1' is not a valid integer value").arg(text);
    if (seconds < 0)
        return QString("'%1' is not a valid delay: give 0 or more seconds").arg(text);
    FDelaySeconds = seconds;
    return {};
}

void TCrawl::SysTimeTimer() {
    ++FElapsedSeconds;
    FListener->Clock(FElapsedSeconds);
}

void TCrawl::DelayTimerTimer() {
    const TNesting nesting(*this);
    ++FDelayTick;
    if (FDelaySeconds <= 0 || FDelayTick % static_cast<std::uint32_t>(FDelaySeconds) == 0) {
        TMessagePump::ProcessMessages();
        if (FClosing)
            return;
        FDelayTick = 1;
        FListener->Pause("탐색을 재개 합니다", 0);
        Perform(WM_NAVIGATION_START);
        return;
    }
    FListener->Pause(QString("%1 / %2").arg(FDelayTick).arg(FDelaySeconds),
                     static_cast<int>(FDelayTick));
    FListener->Pausing(PauseLeft());
}

// The pause ends at the next whole multiple of the delay, however the delay
// was changed while it ran.
std::uint32_t TCrawl::PauseLeft() const {
    const auto delay = static_cast<std::uint32_t>(FDelaySeconds);
    return delay - FDelayTick % delay;
}

// The page is done; the next one follows after the pause.
void TCrawl::StartPause() {
    FPageInFlight = false;
    // The pages of a crawl read back were asked for long ago.
    if (FDelaySeconds == 0 || Replaying() || FReopening) {
        ScheduleNavigationStart();
    } else if (CommitPage()) { // the page is kept before the pause
        FDelayTimer->start();
        FListener->Pausing(PauseLeft());
    }
}

// The next page always starts from the event loop, never nested in the
// handlers of the page before, so the stack does not grow with the crawl.
void TCrawl::ScheduleNavigationStart() {
    QTimer::singleShot(0, this, [this] {
        if (!FClosing)
            Perform(WM_NAVIGATION_START);
    });
}

void TCrawl::AddGoneRow(const TGoneRow& row) {
    FRecords.AddPageRow(row);
    TAddressEntry& entry = FRecords.Entry(row.Url);
    entry.Verdict = row.Verdict;
    entry.Reason = FRecords.Keep(row.Reason);
    FListener->PageRow(row);
}

TCrawl::TNesting::~TNesting() {
    if (--FCrawl.FNesting == 0 && FCrawl.FClosing)
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->wakeUp();
}

void TCrawl::SetStatus(const QString& text) {
    FListener->Status(text);
}

bool TCrawl::Excluded(const std::string& address, bool pages) const {
    const QString text = QString::fromStdString(address);
    if (pages && !FInclude.pattern().isEmpty() && FInclude.isValid() &&
        !FInclude.match(text).hasMatch())
        return true;
    return !FExclude.pattern().isEmpty() && FExclude.isValid() && FExclude.match(text).hasMatch();
}
