#include "DiskWidgetPage.h"

#include "DiskJob.h"
#include "ui_DiskWidget.h"

#include <disk_cleaner/Catalogue.h>
#include <disk_cleaner/CleaningItems.h>
#include <disk_cleaner/PlugInfo.h>
#include <disk_cleaner/TextPlugInfo.h>
#include <disk_cleaner/TitleLinks.h>

#include <platform/Machine.h>

#include <reference_checks/SizeText.h>
#include <reference_checks/Sleep.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidgetItem>

#include <algorithm>
#include <limits>

namespace {

// Catalogue rows keep the source text of a fixed text here, so that a language change can
// translate it again; entries added from the link table have none and keep their text.
constexpr int sourceTextRole = Qt::UserRole;
// Result rows keep the position of their item in the item list here.
constexpr int itemIndexRole = Qt::UserRole;

constexpr int progressPauseMs = 2;
constexpr int flashIntervalMs = 200;
constexpr std::array<int, 3> resultColumnWidths{260, 50, 70};

QString skinFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/skin/");
}

std::string plugInFolder()
{
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/plug-ins")).toStdString();
}

// Counts are 64-bit all the way, so an item of 2 GiB or more shows its real size; a count beyond
// what a size text takes shows as the largest it takes.
QString sizeText(quint64 bytes)
{
    constexpr auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    return formatSizeText(static_cast<qint64>(std::min(bytes, largest)));
}

// How the ascending test reads a Number or Size cell.
double cellValue(const QString &text)
{
    if (text.endsWith(QLatin1Char('B')))
        return sizeTextToBytes(text);
    return text.toDouble();
}

} // namespace

DiskWidgetPage::DiskWidgetPage(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::DiskWidget>())
{
    m_ui->setupUi(this);
    buildCatalogue();
    buildLinks();
    m_ui->processBar->hide();
    completeApplications();

    // Missing pictures stay null, and the label then shows nothing.
    const QString skin = skinFolder();
    m_startPicture = QPixmap(skin + QStringLiteral("scaning_pre.png"));
    for (std::size_t frame = 0; frame < m_frames.size(); ++frame)
        m_frames[frame] = QPixmap(skin + QStringLiteral("scaning_%1.png").arg(frame + 1));
    m_ui->labelImage->setPixmap(m_startPicture);

    // The items look at the current machine from their construction on; without one there is
    // nothing to analyse.
    if (platform::Machine::hasCurrent())
        m_items = diskcleaner::CreateCleaningItems(plugInFolder(), diskcleaner::CreateTextPlugInfo);

    connect(m_ui->pushButtonAnalyze, &QPushButton::clicked, this, &DiskWidgetPage::on_scan);
    connect(m_ui->pushButtonClean, &QPushButton::clicked, this, &DiskWidgetPage::on_fix);
    m_flashTimer = new QTimer(this);
    connect(m_flashTimer, &QTimer::timeout, this, &DiskWidgetPage::slotShowFlash);
    connect(m_ui->treeWidgetLeft, &QTreeWidget::itemClicked, this,
            &DiskWidgetPage::updateSettingList);
    connect(m_ui->treeWidgetRight->header(), &QHeaderView::sectionClicked, this,
            &DiskWidgetPage::treeWidgetRightOnClickColumn);
    // Connected by name: the page knows nothing of the window's class.
    if (parent && parent->metaObject()->indexOfSignal("sig_translate()") >= 0)
        connect(parent, SIGNAL(sig_translate()), this, SLOT(translate()));

    m_ui->pushButtonClean->setEnabled(false);
    m_runState = Idle;
    m_flashTimer->start(flashIntervalMs);

    for (int column = 0; column < static_cast<int>(resultColumnWidths.size()); ++column)
        m_ui->treeWidgetRight->setColumnWidth(column, resultColumnWidths[column]);
    m_ui->treeWidgetRight->setSortingEnabled(false);
    m_ui->treeWidgetRight->header()->setSortIndicatorShown(true);
    m_ui->treeWidgetRight->header()->setSectionsClickable(true);

    m_ui->treeWidgetLeft->expandAll();
}

DiskWidgetPage::~DiskWidgetPage()
{
    // The worker uses the items until it returns; its pending requests go with this object.
    if (m_job) {
        m_job->requestStop();
        m_job.reset();
    }
    m_items.clear();
}

void DiskWidgetPage::setQuestion(Question question)
{
    m_question = std::move(question);
}

bool DiskWidgetPage::workerRunning() const
{
    return m_job && !m_job->finished();
}

void DiskWidgetPage::buildCatalogue()
{
    for (const diskcleaner::CatalogueCategory &category : diskcleaner::CatalogueCategories) {
        auto *categoryRow = new QTreeWidgetItem(m_ui->treeWidgetLeft);
        categoryRow->setData(0, sourceTextRole, QString::fromUtf8(category.text));
        categoryRow->setCheckState(0, Qt::PartiallyChecked);
        for (const diskcleaner::CatalogueEntry &entry : category.entries) {
            auto *entryRow = new QTreeWidgetItem(categoryRow);
            entryRow->setData(0, sourceTextRole, QString::fromUtf8(entry.text));
            entryRow->setCheckState(0, entry.checkedByDefault ? Qt::Checked : Qt::Unchecked);
        }
    }
    retranslateCatalogue();
}

void DiskWidgetPage::retranslateCatalogue()
{
    const auto retranslate = [](QTreeWidgetItem *row) {
        const QString source = row->data(0, sourceTextRole).toString();
        if (!source.isEmpty())
            row->setText(0, QCoreApplication::translate("DiskWidget", source.toUtf8().constData()));
    };
    for (int category = 0; category < m_ui->treeWidgetLeft->topLevelItemCount(); ++category) {
        QTreeWidgetItem *categoryRow = m_ui->treeWidgetLeft->topLevelItem(category);
        retranslate(categoryRow);
        for (int entry = 0; entry < categoryRow->childCount(); ++entry)
            retranslate(categoryRow->child(entry));
    }
}

void DiskWidgetPage::completeApplications()
{
    std::vector<std::u16string> entryTexts;
    for (int category = 0; category < m_ui->treeWidgetLeft->topLevelItemCount(); ++category) {
        const QTreeWidgetItem *categoryRow = m_ui->treeWidgetLeft->topLevelItem(category);
        for (int entry = 0; entry < categoryRow->childCount(); ++entry)
            entryTexts.push_back(categoryRow->child(entry)->text(0).toStdU16String());
    }
    std::vector<std::u16string> displayTexts;
    for (const auto &link : m_links)
        displayTexts.push_back(link.second.toStdU16String());

    QTreeWidgetItem *applications =
            m_ui->treeWidgetLeft->topLevelItem(diskcleaner::ApplicationsCategory);
    for (const std::size_t link : diskcleaner::ApplicationsCompletion(entryTexts, displayTexts)) {
        auto *entryRow = new QTreeWidgetItem(applications);
        entryRow->setText(0, m_links[link].second);
        entryRow->setCheckState(0, Qt::Checked);
    }
}

void DiskWidgetPage::buildLinks()
{
    m_links.clear();
    m_links.reserve(diskcleaner::TitleLinks.size());
    for (const diskcleaner::TitleLink &link : diskcleaner::TitleLinks)
        m_links.emplace_back(QString::fromUtf8(link.title), tr(link.displayText));
}

QString DiskWidgetPage::displayTextOf(const diskcleaner::PlugInfo &item) const
{
    const QString title = QString::fromStdU16String(item.GetTitle());
    for (const auto &link : m_links) {
        if (link.first.compare(title, Qt::CaseInsensitive) == 0)
            return link.second;
    }
    return {};
}

bool DiskWidgetPage::isEntryChecked(const QString &text) const
{
    if (text.isEmpty())
        return false;
    for (int category = 0; category < m_ui->treeWidgetLeft->topLevelItemCount(); ++category) {
        const QTreeWidgetItem *categoryRow = m_ui->treeWidgetLeft->topLevelItem(category);
        for (int entry = 0; entry < categoryRow->childCount(); ++entry) {
            const QTreeWidgetItem *entryRow = categoryRow->child(entry);
            if (entryRow->text(0).compare(text, Qt::CaseInsensitive) == 0)
                return entryRow->checkState(0) == Qt::Checked;
        }
    }
    return false;
}

void DiskWidgetPage::setCatalogueEnabled(bool enabled)
{
    // Categories first: an entry cannot be enabled below a disabled category.
    for (int category = 0; category < m_ui->treeWidgetLeft->topLevelItemCount(); ++category) {
        QTreeWidgetItem *categoryRow = m_ui->treeWidgetLeft->topLevelItem(category);
        categoryRow->setDisabled(!enabled);
        for (int entry = 0; entry < categoryRow->childCount(); ++entry)
            categoryRow->child(entry)->setDisabled(!enabled);
    }
}

QString DiskWidgetPage::analyzeButtonText() const
{
    switch (m_runState) {
    case Idle:
        return QCoreApplication::translate("DiskWidget", "Analyze");
    case Analysing:
        return tr("Stop");
    case Analysed:
    case Cleaning:
    case Cleaned:
        break;
    }
    return tr("Scan");
}

bool DiskWidgetPage::ask(const QString &text)
{
    if (m_question)
        return m_question(text);
    QMessageBox box(QMessageBox::Warning, tr("Disk Clean"), text,
                    QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void DiskWidgetPage::on_scan()
{
    if (m_runState == Analysing || m_runState == Cleaning) {
        if (!ask(tr("Aborted scanning the select files?")))
            return;
        stopJob();
        // The analysis button is disabled while cleaning; should a stop reach a clean all the
        // same, it ends as a clean so that the result list is enabled again.
        if (m_runState == Cleaning)
            finishClean();
        else
            finishAnalysis();
        return;
    }
    if (!ask(tr("<p style=\"color:rgb(70,113,156)\">Make sure had close your web "
                "browser(Firefox, Chrome, IE, Opera) ?<br/><br/><br/><br/></p>")))
        return;
    startAnalysis();
}

void DiskWidgetPage::on_fix()
{
    // "Run Clean" is disabled during an analysis; the result list is still being made then.
    if (m_runState == Analysing)
        return;
    if (!ask(tr("<p style=\"color:rgb(70,113,156)\">Remove the select files?<br/><br/><br/><br/>"
                "</p>")))
        return;
    if (m_runState == Cleaning) {
        if (ask(tr("<p style=\"color:rgb(70,113,156)\">Stop clean ?<br/><br/><br/><br/></p>"))) {
            stopJob();
            finishClean();
        }
        return;
    }
    startClean();
}

void DiskWidgetPage::startAnalysis()
{
    m_ui->pushButtonAnalyze->setText(tr("Stop"));
    setCatalogueEnabled(false);
    m_ui->treeWidgetRight->clear();
    m_ui->pushButtonClean->setEnabled(false);
    m_ui->processBar->show();
    m_runState = Analysing;

    // The check states are read here, once: the catalogue stays disabled until the end, and the
    // worker never reads a widget.
    std::vector<Step> steps;
    for (std::size_t index = 0; index < m_items.size(); ++index) {
        const QString text = displayTextOf(*m_items[index]);
        if (!isEntryChecked(text))
            continue;
        steps.push_back({m_items[index].get(), index, text, tr("Scan") + QLatin1Char(' ') + text});
    }
    const unsigned run = ++m_run;
    m_job = std::make_unique<DiskJob>(std::move(m_job),
                                      [this, steps = std::move(steps), run](const DiskJob &job) {
                                          analyse(job, steps, run);
                                      });
}

void DiskWidgetPage::finishAnalysis()
{
    m_ui->pushButtonAnalyze->setText(tr("Scan"));
    setCatalogueEnabled(true);
    m_ui->processBar->clear();
    m_ui->processBar->hide();
    update();
    m_runState = Analysed;
    if (m_ui->treeWidgetRight->topLevelItemCount() > 0)
        m_ui->pushButtonClean->setEnabled(true);
}

void DiskWidgetPage::startClean()
{
    setCatalogueEnabled(false);
    m_ui->treeWidgetRight->setEnabled(false);
    m_ui->pushButtonAnalyze->setEnabled(false);
    m_ui->pushButtonClean->setEnabled(false);
    m_ui->processBar->show();
    m_runState = Cleaning;

    // A row knows the item that made it, so it still finds its item after a language change
    // and when two items share a display text.
    std::vector<Step> steps;
    for (std::size_t index = 0; index < m_items.size(); ++index) {
        const QTreeWidgetItem *row = resultRowOf(index);
        if (!row || row->checkState(0) != Qt::Checked)
            continue;
        const QString text = row->text(0);
        steps.push_back(
                {m_items[index].get(), index, text, tr("Remove") + QLatin1Char(' ') + text});
    }
    const unsigned run = ++m_run;
    m_job = std::make_unique<DiskJob>(
            std::move(m_job),
            [this, steps = std::move(steps), run](const DiskJob &job) { clean(job, steps, run); });
}

void DiskWidgetPage::finishClean()
{
    setCatalogueEnabled(true);
    m_ui->treeWidgetRight->setEnabled(true);
    m_ui->pushButtonAnalyze->setEnabled(true);
    m_ui->processBar->clear();
    m_ui->processBar->hide();
    update();
    if (m_ui->treeWidgetRight->topLevelItemCount() > 0)
        m_ui->pushButtonClean->setEnabled(true);
    m_runState = Cleaned;
}

void DiskWidgetPage::stopJob()
{
    if (m_job)
        m_job->requestStop();
    // Whatever the stopped worker asked for and has not happened yet is dropped.
    ++m_run;
}

void DiskWidgetPage::analyse(const DiskJob &job, const std::vector<Step> &steps, unsigned run)
{
    for (const Step &step : steps) {
        if (job.stopRequested())
            return;
        showProgress(job, run, step.progressText);
        if (job.stopRequested())
            return;
        step.item->Scan();
        // A scan cut short has counted only part of what is there: it makes no row.
        if (job.stopRequested())
            return;
        // An item that found things gets its row even with no bytes (history visits have none).
        const quint64 found = step.item->GetItemsFound();
        const quint64 bytes = step.item->GetBytesFound();
        if (found > 0) {
            post(run, [this, index = step.index, text = step.displayText, found, bytes] {
                addResultRow(index, text, found, bytes);
            });
        }
    }
    post(run, [this] { finishAnalysis(); });
}

void DiskWidgetPage::clean(const DiskJob &job, const std::vector<Step> &steps, unsigned run)
{
    for (const Step &step : steps) {
        if (job.stopRequested())
            return;
        showProgress(job, run, step.progressText);
        if (job.stopRequested())
            return;
        step.item->Clean();
        // An item stopped half-way keeps its row: some of what it found is still there.
        if (job.stopRequested())
            return;
        post(run, [this, index = step.index] { delete resultRowOf(index); });
    }
    post(run, [this] { finishClean(); });
}

void DiskWidgetPage::showProgress(const DiskJob &job, unsigned run, const QString &text)
{
    post(run, [this, text] { m_ui->processBar->setText(text); });
    post(run, [this] { update(); });
    if (!job.stopRequested())
        sleepMs(progressPauseMs);
}

void DiskWidgetPage::post(unsigned run, std::function<void()> change)
{
    QMetaObject::invokeMethod(
            this,
            [this, run, change = std::move(change)] {
                if (run == m_run)
                    change();
            },
            Qt::QueuedConnection);
}

void DiskWidgetPage::addResultRow(std::size_t index, const QString &text, quint64 found,
                                  quint64 bytes)
{
    auto *row = new QTreeWidgetItem(m_ui->treeWidgetRight);
    row->setText(0, text);
    row->setText(1, QString::number(found));
    row->setText(2, sizeText(bytes));
    row->setData(0, itemIndexRole, QVariant::fromValue<qulonglong>(index));
    row->setCheckState(0, Qt::Checked);
}

QTreeWidgetItem *DiskWidgetPage::resultRowOf(std::size_t index) const
{
    for (int position = 0; position < m_ui->treeWidgetRight->topLevelItemCount(); ++position) {
        QTreeWidgetItem *row = m_ui->treeWidgetRight->topLevelItem(position);
        if (row->data(0, itemIndexRole).toULongLong() == index)
            return row;
    }
    return nullptr;
}

void DiskWidgetPage::slotShowFlash()
{
    if (m_runState != Analysing && m_runState != Cleaning)
        return;
    m_ui->labelImage->setPixmap(m_frames[m_frameCounter % m_frames.size()]);
    ++m_frameCounter;
}

void DiskWidgetPage::updateSettingList(QTreeWidgetItem *item, int column)
{
    if (!item || item->childCount() == 0 || column != 0)
        return;
    const Qt::CheckState state = item->checkState(0);
    if (state == Qt::PartiallyChecked)
        return;
    for (int entry = 0; entry < item->childCount(); ++entry)
        item->child(entry)->setCheckState(0, state);
}

void DiskWidgetPage::treeWidgetRightOnClickColumn(int column)
{
    QTreeWidget *list = m_ui->treeWidgetRight;
    if (list->topLevelItemCount() <= 1 || column < 0 || column > 2)
        return;
    if (column == 0)
        list->sortItems(0, list->header()->sortIndicatorOrder());
    else
        sortRowsByNumberOrSize(column);
    update();
}

void DiskWidgetPage::sortRowsByNumberOrSize(int column)
{
    QTreeWidget *list = m_ui->treeWidgetRight;
    bool ascending = true;
    for (int position = 1; position < list->topLevelItemCount() && ascending; ++position) {
        ascending = cellValue(list->topLevelItem(position)->text(column)) >=
                    cellValue(list->topLevelItem(position - 1)->text(column));
    }

    const auto key = [column](const QTreeWidgetItem *row) -> double {
        const QString text = row->text(column);
        return column == 1 ? static_cast<double>(text.toULongLong()) : sizeTextToBytes(text);
    };
    // Taken out and put back whole, a row keeps its name, number, size and check box together.
    QList<QTreeWidgetItem *> rows = list->invisibleRootItem()->takeChildren();
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const QTreeWidgetItem *left, const QTreeWidgetItem *right) {
                         return ascending ? key(right) < key(left) : key(left) < key(right);
                     });
    list->addTopLevelItems(rows);
}

void DiskWidgetPage::translate()
{
    m_ui->retranslateUi(this);
    retranslateCatalogue();
    buildLinks();
    m_ui->pushButtonAnalyze->setText(analyzeButtonText());
    // Result rows follow the language too.
    for (int position = 0; position < m_ui->treeWidgetRight->topLevelItemCount(); ++position) {
        QTreeWidgetItem *row = m_ui->treeWidgetRight->topLevelItem(position);
        const auto index = static_cast<std::size_t>(row->data(0, itemIndexRole).toULongLong());
        if (index < m_items.size()) {
            const QString text = displayTextOf(*m_items[index]);
            if (!text.isEmpty())
                row->setText(0, text);
        }
    }
}
