#pragma once
// Turns SIGINT and SIGTERM into a call on the GUI thread, from the event
// loop, so that a stop request can finish its work in order.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TSignalNotifier : public QObject {
public:
    explicit TSignalNotifier(std::function<void(int signo)> onSignal, QObject* parent = nullptr);
    ~TSignalNotifier() override; // restores the default handling

private:
    void Receive();

    std::function<void(int)> FOnSignal;
    QSocketNotifier* FNotifier = nullptr;
};
