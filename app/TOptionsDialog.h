#pragma once
// Crawl → Options…: every field of the crawl's options, to read and change.
// Accepted options go to the crawl started next; regular expressions that do
// not compile are refused with the reason, and the dialog stays open.

#include "crawl/TCrawlOptions.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TOptionsDialog : public QDialog {
public:
    explicit TOptionsDialog(QWidget* parent = nullptr);

    // Shows options to edit; accepted gets the edited ones.
    void Edit(const TCrawlOptions& options, std::function<void(const TCrawlOptions&)> accepted);

    QSpinBox* Connections = nullptr;
    QSpinBox* PerHost = nullptr;
    QSpinBox* HostGap = nullptr; // milliseconds
    QSpinBox* Retries = nullptr;
    QSpinBox* MaxWait = nullptr;    // seconds
    QLineEdit* UserAgent = nullptr; // empty: the program's own
    QSpinBox* MaxDepth = nullptr;   // at its least: no limit
    QSpinBox* MaxPages = nullptr;   // at its least: no limit
    QLineEdit* Include = nullptr;
    QLineEdit* Exclude = nullptr;
    QCheckBox* External = nullptr;
    QCheckBox* Robots = nullptr;
    QLabel* Error = nullptr; // why the options were refused
    QPushButton* Ok = nullptr;

private:
    void Accept();

    TCrawlOptions FOptions; // the fields the dialog does not show
    std::function<void(const TCrawlOptions&)> FAccepted;
};
