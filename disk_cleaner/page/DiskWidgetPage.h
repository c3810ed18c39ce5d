#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class DiskJob;
class QTimer;
class QTreeWidgetItem;

namespace Ui {
class DiskWidget;
}

namespace diskcleaner {
class PlugInfo;
}

// The Disk Cleaner page: the catalogue of what may be analysed, the analysis and the clean on a
// worker thread, and the result list.
//
// The page owns its cleaning items. A worker never touches a widget: the page gives it, on the
// user-interface thread, the list of steps to do (what the catalogue or the result list says at
// the start, both disabled during the run), and the worker asks for every widget change through
// queued calls, which run in the order asked. Requests of a run that was stopped are dropped.
class DiskWidgetPage final : public QWidget
{
    Q_OBJECT

public:
    enum RunState { Idle = 0, Analysing = 1, Analysed = 2, Cleaning = 3, Cleaned = 4 };

    // The parent is the main window; its sig_translate() re-sets this page's texts. Creates the
    // cleaning items (when a machine is current) and the plug-in items of the "plug-ins" folder
    // beside the program.
    explicit DiskWidgetPage(QWidget *parent);
    // Stops a running worker and waits for it before the items go.
    ~DiskWidgetPage() override;

    // Asks the user a question (a rich or plain text) and says whether the answer was Yes. The
    // page asks every question through it; by default it is a warning message box with Yes and
    // No. Tests answer in its place.
    using Question = std::function<bool(const QString &text)>;
    void setQuestion(Question question);

    RunState runState() const { return m_runState; }
    // True while a worker, running or stopped, has not returned yet.
    bool workerRunning() const;

signals:
    void sig_translate();

public slots:
    void on_scan();
    void on_fix();
    void slotShowFlash();
    void updateSettingList(QTreeWidgetItem *item, int column);
    void treeWidgetRightOnClickColumn(int column);
    void translate();

private:
    // One item a worker is to scan or clean, decided on the user-interface thread.
    struct Step
    {
        diskcleaner::PlugInfo *item = nullptr;
        std::size_t index = 0;
        QString displayText;
        QString progressText;
    };

    void buildCatalogue();
    void retranslateCatalogue();
    void completeApplications();
    void buildLinks();
    QString displayTextOf(const diskcleaner::PlugInfo &item) const;
    bool isEntryChecked(const QString &text) const;
    void setCatalogueEnabled(bool enabled);
    QString analyzeButtonText() const;
    bool ask(const QString &text);

    void startAnalysis();
    void finishAnalysis();
    void startClean();
    void finishClean();
    void startJob(std::function<void(const DiskJob &)> work);
    void stopJob();

    // Worker side: runs on the worker thread and touches no widget.
    void analyse(const DiskJob &job, const std::vector<Step> &steps, unsigned run);
    void clean(const DiskJob &job, const std::vector<Step> &steps, unsigned run);
    void showProgress(const DiskJob &job, unsigned run, const QString &text);
    // Runs change on the user-interface thread, after every earlier request, unless the run has
    // been stopped or superseded by then.
    void post(unsigned run, std::function<void()> change);

    // Result rows (user-interface thread).
    void addResultRow(std::size_t index, const QString &text, quint64 found, quint64 bytes);
    QTreeWidgetItem *resultRowOf(std::size_t index) const;
    void sortRowsByNumberOrSize(int column);

    std::unique_ptr<Ui::DiskWidget> m_ui;
    Question m_question;
    std::vector<std::unique_ptr<diskcleaner::PlugInfo>> m_items;
    // Item title and translated display text, in the link table's order.
    std::vector<std::pair<QString, QString>> m_links;
    RunState m_runState = Idle;
    // Names the current run; a worker's requests carry the number of the run they belong to.
    unsigned m_run = 0;
    std::unique_ptr<DiskJob> m_job;
    QPixmap m_startPicture;
    std::array<QPixmap, 3> m_frames;
    unsigned m_frameCounter = 0;
    QTimer *m_flashTimer = nullptr;
};
