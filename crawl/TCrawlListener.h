#pragma once
// What a crawl tells whoever shows it: the window, or the headless run. Every
// call comes on the crawl's own thread, in the order the crawl makes it, and
// none of them may reach back into the crawl except through its public calls.

#include "TCrawlRows.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// The counters of the count panel.
enum class TCrawlCounter { GoneList, GoingList, Anchors, InternalLinks, ExternalLinks, Objects };

class TCrawlListener {
public:
    virtual ~TCrawlListener() = default;

    // The status line.
    virtual void Status(const QString& text) { (void)text; }
    // The window's caption: the page being fetched.
    virtual void Caption(const QString& text) { (void)text; }
    // A row of the visited-pages list, failed pages included, with its
    // verdict and the reason in words.
    virtual void PageRow(const TGoneRow& row) { (void)row; }
    // The object list starts over for the page being merged.
    virtual void ObjectsCleared() {}
    // A row of the object list: an object of the page being merged.
    virtual void ObjectRow(const TObjectRow& row) { (void)row; }
    // A row of the external-links list: a link to another site whose answer
    // came, or whose count, verdict or answer changed since.
    virtual void ExternalRow(const TExternalRow& row) { (void)row; }
    // A page row told before has changed: the checks at the crawl's end (the
    // soft-404 check, the confirmation pass) judged it again. at: its place
    // among the page rows, in the order they were told.
    virtual void PageRowChanged(std::size_t at, const TGoneRow& row) { (void)at, (void)row; }
    // An object told before has changed, as above; row.Id names it.
    virtual void ObjectChanged(const TObjectRow& row) { (void)row; }
    // The confirmation pass is under way: this many addresses are still to
    // be asked once more. Told at its start and after each answer.
    virtual void Confirming(std::size_t addresses) { (void)addresses; }
    // A re-check is under way: this many addresses are still to be asked
    // again. Told at its start and after each answer; Finished ends it.
    virtual void Rechecking(std::size_t addresses) { (void)addresses; }
    virtual void Count(TCrawlCounter counter, std::size_t value) { (void)counter, (void)value; }
    // Seconds since the last Enter.
    virtual void Clock(std::uint32_t seconds) { (void)seconds; }
    // The pause between pages: its label and the position of its bar.
    virtual void Pause(const QString& label, int position) { (void)label, (void)position; }
    // A page is being fetched: the how-manieth of the crawl, and the pages
    // still queued behind it.
    virtual void PageStarted(std::size_t page, std::size_t queued) { (void)page, (void)queued; }
    // The pause between pages has begun or ticked: seconds left until the next page.
    virtual void Pausing(std::uint32_t secondsLeft) { (void)secondsLeft; }
    // The crawl has ended: the queue is empty.
    virtual void Finished(const QString& text) { (void)text; }
    // A kept crawl has been read back to where it stopped (TCrawl::Reopen):
    // its lists and counters are as they were; the next Enter goes on.
    virtual void Reopened() {}
    // The crawl cannot go on until the next Enter.
    virtual void Error(const QString& text) { (void)text; }
};
