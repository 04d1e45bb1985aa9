#include "TSaveReportDialog.h"

#include "report/TCrawlReport.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Label(const std::string& format) {
    if (format == "csv")
        return "&CSV files (pages.csv, objects.csv, …)";
    if (format == "json")
        return "&JSON (report.json)";
    if (format == "html")
        return "&HTML page (report.html)";
    if (format == "junit")
        return "J&Unit XML for CI (junit.xml)";
    return QString::fromStdString(format);
}

} // namespace

TSaveReportDialog::TSaveReportDialog(QWidget* owner, const QString& folder,
                                     const std::vector<std::string>& formats)
    : QDialog(owner) {
    setObjectName("SaveReportDialog");
    setWindowTitle("Save Report");
    FFolder = new QLineEdit(folder);
    FFolder->setMinimumWidth(320);
    auto* browse = new QPushButton("&Browse…");
    auto* row = new QHBoxLayout;
    row->addWidget(FFolder, 1);
    row->addWidget(browse);
    auto* boxes = new QVBoxLayout;
    for (const std::string& format : TCrawlReport::Formats()) {
        auto* box = new QCheckBox(Label(format));
        box->setChecked(std::find(formats.begin(), formats.end(), format) != formats.end());
        connect(box, &QCheckBox::toggled, this, &TSaveReportDialog::Update);
        boxes->addWidget(box);
        FFormats.emplace_back(format, box);
    }
    auto* form = new QFormLayout;
    form->addRow("&Folder:", row);
    form->addRow("Formats:", boxes);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    FSave = buttons->button(QDialogButtonBox::Save);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &TSaveReportDialog::Browse);
    connect(FFolder, &QLineEdit::textChanged, this, &TSaveReportDialog::Update);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    Update();
}

QString TSaveReportDialog::Folder() const {
    return FFolder->text().trimmed();
}

std::vector<std::string> TSaveReportDialog::Formats() const {
    std::vector<std::string> formats;
    for (const auto& [format, box] : FFormats)
        if (box->isChecked())
            formats.push_back(format);
    return formats;
}

void TSaveReportDialog::Browse() {
    const QString dir = QFileDialog::getExistingDirectory(this, "Save Report", Folder());
    if (!dir.isEmpty())
        FFolder->setText(dir);
}

void TSaveReportDialog::Update() {
    FSave->setEnabled(!Folder().isEmpty() && !Formats().empty());
}
