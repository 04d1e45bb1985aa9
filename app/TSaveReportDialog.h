#pragma once
// Save Report: the folder to write the report into and its formats (CSV,
// JSON, HTML, JUnit XML), one check box each. Save stays off until there is a
// folder and at least one format.

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TSaveReportDialog : public QDialog {
public:
    // Opens with folder in its box and these formats ticked.
    TSaveReportDialog(QWidget* owner, const QString& folder,
                      const std::vector<std::string>& formats);

    QString Folder() const;
    // The formats ticked, in the order of TCrawlReport::Formats.
    std::vector<std::string> Formats() const;

private:
    void Browse();
    void Update();

    QLineEdit* FFolder = nullptr;
    QPushButton* FSave = nullptr;
    std::vector<std::pair<std::string, QCheckBox*>> FFormats;
};
