#pragma once
// What the crawl is doing, in a word and its figures: the permanent label at
// the right of the status bar.

#include <QLabel>

#include <cstddef>
#include <cstdint>
#include <functional>

enum class TCrawlState { Ready, Crawling, Pausing, Confirming, Rechecking, Stopped, Finished };

class TStateLabel : public QLabel {
public:
    explicit TStateLabel(QWidget* parent = nullptr);

    TCrawlState State() const noexcept { return FState; }
    // Called with the state each time it is shown.
    void SetOnChange(std::function<void(TCrawlState)> onChange) { FOnChange = std::move(onChange); }

    void Ready();
    // page: the how-manieth page is being fetched; queued: pages waiting.
    void Crawling(std::size_t page, std::size_t queued);
    // Going on (after Enter), with the figures last shown.
    void Crawling() { Crawling(FPage, FQueued); }
    // The queue has changed while a page is in flight.
    void Queued(std::size_t queued);
    void Pausing(std::uint32_t secondsLeft);
    // The confirmation pass: addresses still to be asked once more.
    void Confirming(std::size_t addresses);
    // A re-check: addresses still to be asked again.
    void Rechecking(std::size_t addresses);
    void Stopped();
    void Finished(std::size_t pages, std::size_t objects, std::size_t broken,
                  std::uint32_t seconds);

    // "42 s", "3 min 5 s", "1 h 2 min".
    static QString Duration(std::uint32_t seconds);

private:
    void Show(TCrawlState state, const QString& text);

    TCrawlState FState = TCrawlState::Ready;
    std::function<void(TCrawlState)> FOnChange;
    std::size_t FPage = 0;
    std::size_t FQueued = 0;
};
