#pragma once
// Drives a window through a crawl in a test: its boxes are recorded instead of
// shown, and every wait is bounded.

#include "TFrmMain.h"
#include "platform/TMessagePump.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

struct TCrawlDriver {
    std::unique_ptr<TFrmMain> Window = std::make_unique<TFrmMain>();
    QStringList Boxes, Errors;

    TCrawlDriver() {
        Window->Hooks.MessageBox = [this](const QString& t) { Boxes << t; };
        Window->Hooks.ErrorBox = [this](const QString& t) { Errors << t; };
    }

    // Handles the queue until done() holds; false after timeoutMs.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            TMessagePump::ProcessMessages();
            QThread::msleep(1);
        }
        return true;
    }

    bool Finished() const { return Boxes.contains("탐색이 끝났습니다"); }

    bool Crawl(const std::string& url, int delay, int timeoutMs = 30000) {
        Window->ApplyDelay(QString::number(delay));
        Window->StartCrawl(QString::fromStdString(url));
        return PumpUntil([this] { return Finished(); }, timeoutMs);
    }
};
