#include "TOptionsDialog.h"

#include "http/TSchedulerOptions.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// A whole number from low to high, as the command line takes it; a special
// text names the lowest value when it means something else.
QSpinBox* Number(int low, int high, const QString& suffix = {}, const QString& least = {}) {
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setSuffix(suffix);
    box->setSpecialValueText(least);
    box->setAccelerated(true);
    return box;
}

QFormLayout* Form(QGroupBox* group) {
    auto* form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return form;
}

} // namespace

TOptionsDialog::TOptionsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("OptionsDialog");
    setWindowTitle("Options");
    setWindowModality(Qt::WindowModal);

    Connections = Number(1, 256);
    Connections->setToolTip("Transfers at once in all (--connections)");
    PerHost = Number(1, 64);
    PerHost->setToolTip("Transfers at once to one host and port (--per-host)");
    HostGap = Number(0, 3600000, " ms");
    HostGap->setToolTip("The least time between two requests to one host (--host-gap)");
    Retries = Number(0, 10);
    Retries->setToolTip("How often a passing failure (a timeout, a reset, 502, 503, 504) is "
                        "asked again (--retries)");
    MaxWait = Number(0, 3600, " s");
    MaxWait->setToolTip("The longest Retry-After waited for; a longer one gives \"rate limited\" "
                        "(--max-wait)");
    UserAgent = new QLineEdit;
    UserAgent->setPlaceholderText(QString::fromStdString(TSchedulerOptions::DefaultUserAgent()));
    UserAgent->setToolTip("How the program names itself to servers (--user-agent); empty: its "
                          "own name");
    auto* requests = new QGroupBox("Requests");
    QFormLayout* requestForm = Form(requests);
    requestForm->addRow("&Connections:", Connections);
    requestForm->addRow("Per &host:", PerHost);
    requestForm->addRow("&Gap between requests to a host:", HostGap);
    requestForm->addRow("&Retries:", Retries);
    requestForm->addRow("Longest Retry-After &wait:", MaxWait);
    requestForm->addRow("&User agent:", UserAgent);

    MaxDepth = Number(-1, 1000000, {}, "No limit");
    MaxDepth->setToolTip("Pages further than this many links from the start are not fetched "
                         "(--max-depth)");
    MaxPages = Number(0, 100000000, {}, "No limit");
    MaxPages->setToolTip("The crawl ends after this many pages (--max-pages)");
    Include = new QLineEdit;
    Include->setToolTip("Only pages whose whole address matches this regular expression are "
                        "fetched (--include); empty: every page");
    Exclude = new QLineEdit;
    Exclude->setToolTip("Addresses that match this regular expression as a whole are listed as "
                        "\"excluded\" and not requested (--exclude)");
    External = new QCheckBox("Check links &elsewhere");
    External->setToolTip("Check each link to another site once (--no-external turns it off)");
    Robots = new QCheckBox("Obey &robots.txt");
    Robots->setToolTip("Fetch no page the start host's robots.txt disallows (--ignore-robots "
                       "turns it off)");
    auto* scope = new QGroupBox("What is crawled");
    QFormLayout* scopeForm = Form(scope);
    scopeForm->addRow("Max &depth:", MaxDepth);
    scopeForm->addRow("Max &pages:", MaxPages);
    scopeForm->addRow("&Include:", Include);
    scopeForm->addRow("E&xclude:", Exclude);
    scopeForm->addRow(External);
    scopeForm->addRow(Robots);

    Error = new QLabel;
    Error->setObjectName("OptionsError");
    Error->setWordWrap(true);
    Error->setStyleSheet("color: #b0261a");
    Error->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    Ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { Accept(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* note = new QLabel("Changes apply to the next crawl.");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(requests);
    layout->addWidget(scope);
    layout->addWidget(note);
    layout->addWidget(Error);
    layout->addWidget(buttons);
    resize(520, sizeHint().height());
}

void TOptionsDialog::Edit(const TCrawlOptions& options,
                          std::function<void(const TCrawlOptions&)> accepted) {
    FOptions = options;
    FAccepted = std::move(accepted);
    Connections->setValue(options.Connections);
    PerHost->setValue(options.PerHost);
    HostGap->setValue(options.HostGapMs);
    Retries->setValue(options.Retries);
    MaxWait->setValue(options.MaxWaitSeconds);
    UserAgent->setText(QString::fromStdString(options.UserAgent));
    MaxDepth->setValue(options.MaxDepth < 0 ? MaxDepth->minimum() : options.MaxDepth);
    MaxPages->setValue(options.MaxPages < 0 ? MaxPages->minimum() : options.MaxPages);
    Include->setText(QString::fromStdString(options.Include));
    Exclude->setText(QString::fromStdString(options.Exclude));
    External->setChecked(options.External);
    Robots->setChecked(options.Robots);
    Error->hide();
    open();
    Connections->setFocus();
}

void TOptionsDialog::Accept() {
    TCrawlOptions options = FOptions;
    options.Connections = Connections->value();
    options.PerHost = PerHost->value();
    options.HostGapMs = HostGap->value();
    options.Retries = Retries->value();
    options.MaxWaitSeconds = MaxWait->value();
    options.UserAgent = UserAgent->text().trimmed().toStdString();
    if (options.UserAgent.find_first_of("\r\n") != std::string::npos) {
        Error->setText("The user agent takes one line of text.");
        Error->show();
        UserAgent->setFocus();
        return;
    }
    options.MaxDepth = MaxDepth->value() == MaxDepth->minimum() ? -1 : MaxDepth->value();
    options.MaxPages = MaxPages->value() == MaxPages->minimum() ? -1 : MaxPages->value();
    options.Include = Include->text().toStdString();
    options.Exclude = Exclude->text().toStdString();
    options.External = External->isChecked();
    options.Robots = Robots->isChecked();
    if (const std::string error = options.ScopeError(); !error.empty()) {
        // "exclude: missing closing parenthesis"
        const bool include = error.rfind("include", 0) == 0;
        const QString why = QString::fromStdString(error.substr(error.find(':') + 2));
        Error->setText(QString("The %1 expression is not a valid regular expression: %2.")
                           .arg(include ? "include" : "exclude", why));
        Error->show();
        (include ? Include : Exclude)->setFocus();
        return;
    }
    Error->hide();
    if (FAccepted)
        FAccepted(options);
    accept();
}
