// The Disk page driven as a user drives it, on small test prefixes: the catalogue, analyses and
// cleans on the worker thread, the result list, the questions, stopping and closing.
#include "DiskWidgetPage.h"
#include "DiskJob.h"
#include "TestPrefix.h"

#include <disk_cleaner/Catalogue.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/firefox_base.h>

#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTranslator>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int workTimeoutMs = 120000;

// The plug-in files beside the test program: three linked to checked Applications entries, one
// to an unchecked System entry and one linked to nothing.
struct PlugInFile
{
    const char *fileName;
    const char *title;
    const char *folder;
};

const PlugInFile plugInFiles[] = {
        {"7zip_history.dct", "7-Zip History", "SevenZip"},
        {"acdsee.dct", "ACDSee", "AcdSee"},
        {"acrobat_reader.dct", "Acrobat Reader", "Acrobat"},
        {"winimp_history.dct", "WinImp History", "WinImp"},
        {"zz_unlinked.dct", "Nothing Links Here", "Unlinked"},
};

QString skinFolder()
{
    return QCoreApplication::applicationDirPath() + "/skin";
}

const char *const skinPictures[] = {"scaning_pre.png", "scaning_1.png", "scaning_2.png",
                                    "scaning_3.png"};

QRgb pictureColour(int index)
{
    return qRgb(30 + 50 * index, 220 - 40 * index, 100);
}

// Which skin picture a pixmap shows, by its colour; -1 for none.
int pictureShown(const QLabel *label)
{
    const QImage image = label->pixmap().toImage();
    if (image.isNull())
        return -1;
    const QRgb colour = image.pixel(0, 0) | 0xff000000u;
    for (int index = 0; index < 4; ++index) {
        if (colour == pictureColour(index))
            return index;
    }
    return -2;
}

struct Row
{
    QString name;
    QString number;
    QString size;
    bool checked;
};

// Stands for a person answering the page's questions; answers Yes unless told otherwise.
struct Answers
{
    QStringList asked;
    QList<bool> next;
    // Runs while the question is open, as the event loop of a message box runs.
    std::function<void()> whileOpen;

    DiskWidgetPage::Question function()
    {
        return [this](const QString &text) {
            asked.append(text);
            if (whileOpen)
                whileOpen();
            return next.isEmpty() ? true : next.takeFirst();
        };
    }
};

// Every test word of a translation in both contexts that name a text, as a real translation has
// it; the source text otherwise.
class GermanTranslator final : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        const QString key = QString::fromLatin1(context) + '|' + QString::fromUtf8(sourceText);
        static const QHash<QString, QString> words{
                {"DiskWidget|Analyze", "Analysieren"},
                {"DiskWidget|Run Clean", "Bereinigen"},
                {"DiskWidget|Name", "Name (de)"},
                {"DiskWidget|Applications", "Anwendungen"},
                {"DiskWidget|Temporary Files", "Temporäre Dateien"},
                {"DiskWidgetPage|Temporary Files", "Temporäre Dateien"},
                {"DiskWidgetPage|7zip", "7-Zip-Verlauf"},
                {"DiskWidgetPage|Scan", "Prüfen"},
                {"DiskWidgetPage|Stop", "Anhalten"},
        };
        return words.value(key);
    }
    bool isEmpty() const override { return false; }
};

// A places database with the given number of visits, as Firefox keeps its history.
void writePlaces(const std::string &path, int visits)
{
    sqlite3 *database = nullptr;
    QVERIFY(sqlite3_open(path.c_str(), &database) == SQLITE_OK);
    std::string sql = "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR);"
                      "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, place_id INTEGER,"
                      " visit_date INTEGER);"
                      "INSERT INTO moz_places (id, url) VALUES (1, 'https://example.com/');";
    for (int visit = 0; visit < visits; ++visit)
        sql += "INSERT INTO moz_historyvisits (place_id, visit_date) VALUES (1, " +
               std::to_string(1700000000000000LL + visit) + ");";
    const int result = sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(database);
    QCOMPARE(result, SQLITE_OK);
}

std::int64_t countVisits(const std::string &path)
{
    sqlite3 *database = nullptr;
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(database);
        return -1;
    }
    sqlite3_stmt *statement = nullptr;
    std::int64_t count = -1;
    if (sqlite3_prepare_v2(database, "SELECT COUNT(*) FROM moz_historyvisits", -1, &statement,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        count = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(database);
    return count;
}

} // namespace

class DiskWidgetPageTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithTheDefaultCatalogue();
    void categoryBoxSetsEveryEntry_data();
    void categoryBoxSetsEveryEntry();
    void entryAndPartialCategoryLeaveTheRestAlone();
    void analysisMakesRowsForCheckedEntries();
    void analysisWithoutFindingsLeavesCleanDisabled();
    void rowSizesAndCounts_data();
    void rowSizesAndCounts();
    void historyVisitsWithoutBytesAreCleanable();
    void cleanRemovesExactlyTheCheckedRows_data();
    void cleanRemovesExactlyTheCheckedRows();
    void questionsAndTheirAnswers();
    void sortingByColumn_data();
    void sortingByColumn();
    void sortingByName();
    void stoppingAnAnalysis_data();
    void stoppingAnAnalysis();
    void closingDuringARun_data();
    void closingDuringARun();
    void jobStartsAfterThePreviousReturned();
    void jobStoppedBeforeItsTurnDoesNothing();
    void animationFrames();
    void missingSkinLeavesThePictureEmpty();
    void translateSetsTextsInTheirContexts();

private:
    std::unique_ptr<DiskWidgetPage> makePage();
    void analyse(DiskWidgetPage &page);
    void cleanRows(DiskWidgetPage &page);
    std::string plugInFolder(const char *folder) const;
    std::string temp() const;
    void writeJunk(const char *folder, int files, int size) const;

    static QTreeWidget *catalogue(const DiskWidgetPage &page);
    static QTreeWidget *results(const DiskWidgetPage &page);
    static QPushButton *button(const DiskWidgetPage &page, const char *name);
    static QTreeWidgetItem *category(const DiskWidgetPage &page, const QString &text);
    static QTreeWidgetItem *entry(QTreeWidgetItem *category, const QString &text);
    static QList<Row> rows(const DiskWidgetPage &page);
    static QStringList rowNames(const DiskWidgetPage &page);
    static void clickCheckBox(QTreeWidget *tree, QTreeWidgetItem *item);
    static void clickHeader(const DiskWidgetPage &page, int column);

    QTemporaryDir m_dataHome;
    std::unique_ptr<TestPrefix> m_prefix;
    Answers m_answers;
};

void DiskWidgetPageTest::initTestCase()
{
    // The recycle bin item looks at the home trash: keep it away from the real one.
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());

    const QString folder = QCoreApplication::applicationDirPath() + "/plug-ins";
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    for (const PlugInFile &plugIn : plugInFiles) {
        QFile file(folder + '/' + plugIn.fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[Info]\nTitle=%1\nDescription=Test files\n\n[files]\n"
                                  "%appdata%\\NimbraTest\\%2\\*.*\n")
                           .arg(plugIn.title, plugIn.folder)
                           .toUtf8());
    }

    QDir(skinFolder()).removeRecursively();
    QVERIFY(QDir().mkpath(skinFolder()));
    for (int index = 0; index < 4; ++index) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(pictureColour(index));
        QVERIFY(image.save(skinFolder() + '/' + skinPictures[index]));
    }
}

void DiskWidgetPageTest::init()
{
    // Each test has a prefix of its own; the Firefox items remember where the profile was.
    diskcleaner::firefox_base::ForgetProfileLocation();
    m_prefix = std::make_unique<TestPrefix>();
    m_prefix->install();
    m_answers = {};
}

void DiskWidgetPageTest::cleanup()
{
    diskcleaner::firefox_base::ForgetProfileLocation();
}

std::unique_ptr<DiskWidgetPage> DiskWidgetPageTest::makePage()
{
    auto page = std::make_unique<DiskWidgetPage>(nullptr);
    page->setQuestion(m_answers.function());
    return page;
}

void DiskWidgetPageTest::analyse(DiskWidgetPage &page)
{
    page.on_scan();
    QTRY_VERIFY_WITH_TIMEOUT(page.runState() == DiskWidgetPage::Analysed && !page.workerRunning(),
                             workTimeoutMs);
}

void DiskWidgetPageTest::cleanRows(DiskWidgetPage &page)
{
    page.on_fix();
    QTRY_VERIFY_WITH_TIMEOUT(page.runState() == DiskWidgetPage::Cleaned && !page.workerRunning(),
                             workTimeoutMs);
}

std::string DiskWidgetPageTest::plugInFolder(const char *folder) const
{
    return "users/" + m_prefix->userName() + "/AppData/Roaming/NimbraTest/" + folder;
}

std::string DiskWidgetPageTest::temp() const
{
    return "users/" + m_prefix->userName() + "/Temp";
}

// Files of the given size in the folder of a test plug-in.
void DiskWidgetPageTest::writeJunk(const char *folder, int files, int size) const
{
    for (int file = 0; file < files; ++file)
        m_prefix->writeFile(plugInFolder(folder) + "/junk" + std::to_string(file) + ".txt",
                            std::string(static_cast<std::size_t>(size), 'j'));
}

QTreeWidget *DiskWidgetPageTest::catalogue(const DiskWidgetPage &page)
{
    return page.findChild<QTreeWidget *>("treeWidgetLeft");
}

QTreeWidget *DiskWidgetPageTest::results(const DiskWidgetPage &page)
{
    return page.findChild<QTreeWidget *>("treeWidgetRight");
}

QPushButton *DiskWidgetPageTest::button(const DiskWidgetPage &page, const char *name)
{
    return page.findChild<QPushButton *>(name);
}

QTreeWidgetItem *DiskWidgetPageTest::category(const DiskWidgetPage &page, const QString &text)
{
    const QList<QTreeWidgetItem *> found =
            catalogue(page)->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return found.isEmpty() ? nullptr : found.first();
}

QTreeWidgetItem *DiskWidgetPageTest::entry(QTreeWidgetItem *category, const QString &text)
{
    for (int index = 0; category && index < category->childCount(); ++index) {
        if (category->child(index)->text(0) == text)
            return category->child(index);
    }
    return nullptr;
}

QList<Row> DiskWidgetPageTest::rows(const DiskWidgetPage &page)
{
    QList<Row> list;
    const QTreeWidget *tree = results(page);
    for (int index = 0; index < tree->topLevelItemCount(); ++index) {
        const QTreeWidgetItem *row = tree->topLevelItem(index);
        list.append({row->text(0), row->text(1), row->text(2), row->checkState(0) == Qt::Checked});
    }
    return list;
}

QStringList DiskWidgetPageTest::rowNames(const DiskWidgetPage &page)
{
    QStringList names;
    for (const Row &row : rows(page))
        names.append(row.name);
    return names;
}

// A left click on the item's check box, where a person clicks.
void DiskWidgetPageTest::clickCheckBox(QTreeWidget *tree, QTreeWidgetItem *item)
{
    QStyleOptionViewItem option;
    option.initFrom(tree);
    option.rect = tree->visualItemRect(item);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = item->text(0);
    const QRect box =
            tree->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, tree);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
}

void DiskWidgetPageTest::clickHeader(const DiskWidgetPage &page, int column)
{
    QHeaderView *header = results(page)->header();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
}

void DiskWidgetPageTest::startsWithTheDefaultCatalogue()
{
    const auto page = makePage();
    const QTreeWidget *tree = catalogue(*page);

    // The tree shows the completed catalogue, every category partially checked and expanded.
    const std::vector<diskcleaner::CatalogueSection> expected = diskcleaner::CompletedCatalogue();
    QCOMPARE(tree->topLevelItemCount(), static_cast<int>(expected.size()));
    for (int index = 0; index < tree->topLevelItemCount(); ++index) {
        const QTreeWidgetItem *categoryRow = tree->topLevelItem(index);
        const diskcleaner::CatalogueSection &section = expected[static_cast<std::size_t>(index)];
        QCOMPARE(categoryRow->text(0), QString::fromStdU16String(section.text));
        QCOMPARE(categoryRow->checkState(0), Qt::PartiallyChecked);
        QVERIFY(categoryRow->isExpanded());
        QCOMPARE(categoryRow->childCount(), static_cast<int>(section.entries.size()));
        for (int child = 0; child < categoryRow->childCount(); ++child) {
            const diskcleaner::CatalogueChoice &choice =
                    section.entries[static_cast<std::size_t>(child)];
            QCOMPARE(categoryRow->child(child)->text(0), QString::fromStdU16String(choice.text));
            QCOMPARE(categoryRow->child(child)->checkState(0),
                     choice.checked ? Qt::Checked : Qt::Unchecked);
        }
    }
    const QTreeWidgetItem *applications = category(*page, "Applications");
    QCOMPARE(applications->childCount(), 77);
    QCOMPARE(applications->child(2)->text(0), QString("7zip"));
    QCOMPARE(applications->child(2)->checkState(0), Qt::Checked);
    QCOMPARE(entry(category(*page, "System"), "WinImp History")->checkState(0), Qt::Unchecked);

    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Analyze"));
    QCOMPARE(button(*page, "pushButtonClean")->text(), QString("Run Clean"));
    QVERIFY(!button(*page, "pushButtonClean")->isEnabled());
    QVERIFY(page->findChild<QLabel *>("processBar")->isHidden());
    QCOMPARE(page->runState(), DiskWidgetPage::Idle);
    const QTreeWidget *list = results(*page);
    QCOMPARE(list->headerItem()->text(0), QString("Name"));
    QCOMPARE(list->headerItem()->text(1), QString("Number"));
    QCOMPARE(list->headerItem()->text(2), QString("Size"));
    QCOMPARE(list->columnWidth(0), 260);
    QCOMPARE(list->columnWidth(1), 50);
    QCOMPARE(list->columnWidth(2), 70);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->header()->isSortIndicatorShown());
    QCOMPARE(tree->headerItem()->text(0), QString("Setting"));
}

void DiskWidgetPageTest::categoryBoxSetsEveryEntry_data()
{
    QTest::addColumn<QString>("categoryText");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<Qt::CheckState>("state");

    // A partial box becomes checked on the first click (the toolkit's rule), then toggles.
    QTest::newRow("Advanced once") << "Advanced" << 1 << Qt::Checked;
    QTest::newRow("Advanced twice") << "Advanced" << 2 << Qt::Unchecked;
    QTest::newRow("Advanced three times") << "Advanced" << 3 << Qt::Checked;
    QTest::newRow("System twice") << "System" << 2 << Qt::Unchecked;
    QTest::newRow("Applications twice") << "Applications" << 2 << Qt::Unchecked;
}

void DiskWidgetPageTest::categoryBoxSetsEveryEntry()
{
    QFETCH(QString, categoryText);
    QFETCH(int, clicks);
    QFETCH(Qt::CheckState, state);

    const auto page = makePage();
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    QTreeWidgetItem *categoryRow = category(*page, categoryText);
    QVERIFY(categoryRow);
    catalogue(*page)->scrollToItem(categoryRow);

    for (int click = 0; click < clicks; ++click)
        clickCheckBox(catalogue(*page), categoryRow);

    QCOMPARE(categoryRow->checkState(0), state);
    for (int child = 0; child < categoryRow->childCount(); ++child)
        QCOMPARE(categoryRow->child(child)->checkState(0), state);
    // The other categories keep their defaults.
    QCOMPARE(entry(category(*page, "Firefox"), "Firefox Cache")->checkState(0), Qt::Checked);
    QCOMPARE(entry(category(*page, "Firefox"), "Saved Passwords")->checkState(0), Qt::Unchecked);
}

void DiskWidgetPageTest::entryAndPartialCategoryLeaveTheRestAlone()
{
    const auto page = makePage();
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    QTreeWidgetItem *firefox = category(*page, "Firefox");
    QTreeWidgetItem *cache = entry(firefox, "Firefox Cache");
    catalogue(*page)->scrollToItem(cache);

    clickCheckBox(catalogue(*page), cache);

    QCOMPARE(cache->checkState(0), Qt::Unchecked);
    QCOMPARE(firefox->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(entry(firefox, "Firefox History")->checkState(0), Qt::Checked);

    // A partially checked category passes nothing on, nor does a click beside the box.
    page->updateSettingList(firefox, 0);
    QCOMPARE(cache->checkState(0), Qt::Unchecked);
    QCOMPARE(entry(firefox, "Firefox History")->checkState(0), Qt::Checked);
    firefox->setCheckState(0, Qt::Checked);
    page->updateSettingList(firefox, 1);
    QCOMPARE(cache->checkState(0), Qt::Unchecked);
}

void DiskWidgetPageTest::analysisMakesRowsForCheckedEntries()
{
    m_prefix->writeFile(temp() + "/a.tmp", std::string(100, 'a'));
    m_prefix->writeFile(temp() + "/b.tmp", std::string(2000, 'b'));
    // Only the files directly in the temporary folder count.
    m_prefix->writeFile(temp() + "/setup/c.tmp", std::string(500, 'c'));
    writeJunk("SevenZip", 2, 15);
    writeJunk("WinImp", 3, 10);   // its entry starts unchecked
    writeJunk("Unlinked", 4, 10); // its title leads to no entry
    const auto page = makePage();

    page->on_scan();
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Stop"));
    QVERIFY(catalogue(*page)->topLevelItem(0)->isDisabled());
    QVERIFY(catalogue(*page)->topLevelItem(0)->child(0)->isDisabled());
    QVERIFY(!page->findChild<QLabel *>("processBar")->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(page->runState() == DiskWidgetPage::Analysed, workTimeoutMs);

    QCOMPARE(rowNames(*page), QStringList({"Temporary Files", "7zip"}));
    const QList<Row> found = rows(*page);
    QCOMPARE(found[0].number, QString("2"));
    QCOMPARE(found[0].size, QString("2.05078 KB"));
    QCOMPARE(found[1].number, QString("2"));
    QCOMPARE(found[1].size, QString("30 B"));
    QVERIFY(found[0].checked && found[1].checked);
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Scan"));
    QVERIFY(button(*page, "pushButtonClean")->isEnabled());
    QVERIFY(page->findChild<QLabel *>("processBar")->isHidden());
    QVERIFY(!catalogue(*page)->topLevelItem(0)->child(0)->isDisabled());

    // Checking the entry brings its item in; a new analysis starts from an empty list.
    entry(category(*page, "System"), "WinImp History")->setCheckState(0, Qt::Checked);
    entry(category(*page, "Applications"), "7zip")->setCheckState(0, Qt::Unchecked);
    analyse(*page);
    QCOMPARE(rowNames(*page), QStringList({"Temporary Files", "WinImp History"}));
    QCOMPARE(rows(*page)[1].number, QString("3"));
}

void DiskWidgetPageTest::analysisWithoutFindingsLeavesCleanDisabled()
{
    const auto page = makePage();
    analyse(*page);
    QVERIFY(rows(*page).isEmpty());
    QVERIFY(!button(*page, "pushButtonClean")->isEnabled());
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Scan"));
}

void DiskWidgetPageTest::rowSizesAndCounts_data()
{
    QTest::addColumn<QList<quint64>>("sizes");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("size");

    QTest::newRow("nothing found") << QList<quint64>{} << QString() << QString();
    QTest::newRow("one empty file") << QList<quint64>{0} << "1"
                                    << "0 B";
    QTest::newRow("two empty files and a byte") << QList<quint64>{0, 0, 1} << "3"
                                                << "1 B";
    // 2 GiB and more: sizes are 64-bit from the item to the row.
    QTest::newRow("2.5 GiB") << QList<quint64>{2684354560ULL} << "1"
                             << "2.5 GB";
    QTest::newRow("4.5 GiB in two files") << QList<quint64>{2147483648ULL, 2684354560ULL} << "2"
                                          << "4.5 GB";
}

void DiskWidgetPageTest::rowSizesAndCounts()
{
    QFETCH(QList<quint64>, sizes);
    QFETCH(QString, number);
    QFETCH(QString, size);

    for (int index = 0; index < sizes.size(); ++index)
        m_prefix->writeSparseFile(temp() + "/file" + std::to_string(index) + ".tmp", sizes[index]);
    const auto page = makePage();
    analyse(*page);

    const QList<Row> found = rows(*page);
    if (number.isEmpty()) {
        QVERIFY(found.isEmpty());
        return;
    }
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].name, QString("Temporary Files"));
    QCOMPARE(found[0].number, number);
    QCOMPARE(found[0].size, size);
    QVERIFY(button(*page, "pushButtonClean")->isEnabled());
}

void DiskWidgetPageTest::historyVisitsWithoutBytesAreCleanable()
{
    const std::string roaming = "users/" + m_prefix->userName() + "/AppData/Roaming";
    m_prefix->writeFile(roaming + "/Mozilla/Firefox/profiles.ini",
                        "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default\n"
                        "IsRelative=1\nPath=Profiles/test.default\nDefault=1\n");
    const std::string profile = roaming + "/Mozilla/Firefox/Profiles/test.default";
    m_prefix->makeFolder(profile);
    const std::string places = m_prefix->hostPath(profile + "/places.sqlite");
    writePlaces(places, 4);
    const auto page = makePage();

    analyse(*page);
    const QList<Row> found = rows(*page);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].name, QString("Firefox History"));
    QCOMPARE(found[0].number, QString("4"));
    QCOMPARE(found[0].size, QString("0 B"));

    cleanRows(*page);
    QVERIFY(rows(*page).isEmpty());
    QCOMPARE(countVisits(places), 0);
}

void DiskWidgetPageTest::cleanRemovesExactlyTheCheckedRows_data()
{
    QTest::addColumn<QStringList>("unchecked");

    QTest::newRow("every row checked") << QStringList();
    QTest::newRow("one row unchecked") << QStringList{"7zip"};
    QTest::newRow("two rows unchecked") << QStringList{"Temporary Files", "ACDSee"};
    QTest::newRow("no row checked") << QStringList{"Temporary Files", "7zip", "ACDSee"};
}

void DiskWidgetPageTest::cleanRemovesExactlyTheCheckedRows()
{
    QFETCH(QStringList, unchecked);

    const QStringList names{"Temporary Files", "7zip", "ACDSee"};
    const QMap<QString, QList<std::string>> filesOf{
            {"Temporary Files", {temp() + "/one.tmp", temp() + "/two.tmp"}},
            {"7zip",
             {plugInFolder("SevenZip") + "/junk0.txt", plugInFolder("SevenZip") + "/junk1.txt"}},
            {"ACDSee", {plugInFolder("AcdSee") + "/junk0.txt"}},
    };
    for (const QList<std::string> &files : filesOf) {
        for (const std::string &file : files)
            m_prefix->writeFile(file, "junk");
    }
    // Files no checked item covers.
    const QList<std::string> bystanders{temp() + "/folder/three.tmp",
                                        plugInFolder("WinImp") + "/junk0.txt",
                                        plugInFolder("Unlinked") + "/junk0.txt"};
    for (const std::string &file : bystanders)
        m_prefix->writeFile(file, "keep");
    const auto page = makePage();
    analyse(*page);
    QCOMPARE(rowNames(*page), names);

    QTreeWidget *list = results(*page);
    for (int index = 0; index < list->topLevelItemCount(); ++index) {
        if (unchecked.contains(list->topLevelItem(index)->text(0)))
            list->topLevelItem(index)->setCheckState(0, Qt::Unchecked);
    }
    cleanRows(*page);

    for (const QString &name : names) {
        for (const std::string &file : filesOf[name])
            QCOMPARE(TestPrefix::exists(m_prefix->hostPath(file)), unchecked.contains(name));
    }
    for (const std::string &file : bystanders)
        QVERIFY2(TestPrefix::exists(m_prefix->hostPath(file)), file.c_str());
    QStringList left = names;
    left.removeIf([&](const QString &name) { return !unchecked.contains(name); });
    QCOMPARE(rowNames(*page), left);
    for (const Row &row : rows(*page))
        QVERIFY(!row.checked);
    QCOMPARE(button(*page, "pushButtonClean")->isEnabled(), !left.isEmpty());
    QVERIFY(button(*page, "pushButtonAnalyze")->isEnabled());
    QVERIFY(list->isEnabled());
    QVERIFY(page->findChild<QLabel *>("processBar")->isHidden());
}

void DiskWidgetPageTest::questionsAndTheirAnswers()
{
    m_prefix->writeFile(temp() + "/a.tmp", "a");
    const auto page = makePage();
    const QString browserQuestion =
            "<p style=\"color:rgb(70,113,156)\">Make sure had close your web browser(Firefox, "
            "Chrome, IE, Opera) ?<br/><br/><br/><br/></p>";
    const QString removeQuestion =
            "<p style=\"color:rgb(70,113,156)\">Remove the select files?<br/><br/><br/><br/></p>";

    // No to the browser question starts nothing.
    m_answers.next = {false};
    page->on_scan();
    QCOMPARE(m_answers.asked, QStringList{browserQuestion});
    QCOMPARE(page->runState(), DiskWidgetPage::Idle);
    QVERIFY(!page->workerRunning());
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Analyze"));

    // While analysing, the button asks whether to abort; No lets the analysis go on.
    m_answers = {};
    m_answers.next = {true, false};
    page->on_scan();
    QCOMPARE(page->runState(), DiskWidgetPage::Analysing);
    // The worker does not wait for the answer: it finishes while the question is open.
    m_answers.whileOpen = [&] {
        QTRY_VERIFY_WITH_TIMEOUT(page->runState() == DiskWidgetPage::Analysed, workTimeoutMs);
    };
    page->on_scan();
    QCOMPARE(m_answers.asked,
             QStringList({browserQuestion, QString("Aborted scanning the select files?")}));
    QCOMPARE(page->runState(), DiskWidgetPage::Analysed);
    QCOMPARE(rowNames(*page), QStringList{"Temporary Files"});

    // No to the browser question keeps the result list.
    m_answers = {};
    m_answers.next = {false};
    page->on_scan();
    QCOMPARE(rowNames(*page), QStringList{"Temporary Files"});
    QCOMPARE(page->runState(), DiskWidgetPage::Analysed);

    // No to the remove question removes nothing.
    m_answers = {};
    m_answers.next = {false};
    page->on_fix();
    QCOMPARE(m_answers.asked, QStringList{removeQuestion});
    QCOMPARE(page->runState(), DiskWidgetPage::Analysed);
    QVERIFY(TestPrefix::exists(m_prefix->hostPath(temp() + "/a.tmp")));

    // Yes to it cleans; the analysis button keeps its text.
    m_answers = {};
    cleanRows(*page);
    QCOMPARE(m_answers.asked, QStringList{removeQuestion});
    QVERIFY(!TestPrefix::exists(m_prefix->hostPath(temp() + "/a.tmp")));
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Scan"));
}

void DiskWidgetPageTest::sortingByColumn_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("order");

    // Found in item order: Temporary Files 3 files of 6000 bytes, 7zip 1 of 5,000,000,
    // ACDSee 5 of 50, Acrobat Reader 2 of 3000.
    const QStringList byNumber{"7zip", "Acrobat Reader", "Temporary Files", "ACDSee"};
    const QStringList bySize{"ACDSee", "Acrobat Reader", "Temporary Files", "7zip"};
    const auto reversed = [](QStringList list) {
        std::reverse(list.begin(), list.end());
        return list;
    };
    QTest::newRow("Number") << QList<int>{1} << byNumber;
    QTest::newRow("Number twice") << QList<int>{1, 1} << reversed(byNumber);
    QTest::newRow("Number three times") << QList<int>{1, 1, 1} << byNumber;
    QTest::newRow("Size") << QList<int>{2} << bySize;
    QTest::newRow("Size twice") << QList<int>{2, 2} << reversed(bySize);
    QTest::newRow("Number, then Size") << QList<int>{1, 2} << bySize;
    QTest::newRow("Size, then Number") << QList<int>{2, 1} << byNumber;
}

void DiskWidgetPageTest::sortingByColumn()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, order);

    for (const char *name : {"a.tmp", "b.tmp", "c.tmp"})
        m_prefix->writeFile(temp() + '/' + name, std::string(2000, 't'));
    m_prefix->writeSparseFile(plugInFolder("SevenZip") + "/big.7z", 5000000);
    writeJunk("AcdSee", 5, 10);
    writeJunk("Acrobat", 2, 1500);
    const auto page = makePage();
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    analyse(*page);
    QCOMPARE(rowNames(*page), QStringList({"Temporary Files", "7zip", "ACDSee", "Acrobat Reader"}));
    results(*page)->topLevelItem(0)->setCheckState(0, Qt::Unchecked);

    for (const int column : clicks)
        clickHeader(*page, column);

    QCOMPARE(rowNames(*page), order);
    // Each row keeps its cells and its check box together.
    for (const Row &row : rows(*page)) {
        if (row.name == "Temporary Files") {
            QCOMPARE(row.number, QString("3"));
            QCOMPARE(row.size, QString("5.85938 KB"));
            QVERIFY(!row.checked);
        } else if (row.name == "7zip") {
            QCOMPARE(row.number, QString("1"));
            QCOMPARE(row.size, QString("4.76837 MB"));
            QVERIFY(row.checked);
        }
    }
}

void DiskWidgetPageTest::sortingByName()
{
    m_prefix->writeFile(temp() + "/a.tmp", "a");
    writeJunk("SevenZip", 1, 1);
    writeJunk("AcdSee", 1, 1);
    writeJunk("Acrobat", 1, 1);
    const auto page = makePage();
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page.get()));
    analyse(*page);
    const QStringList ascending{"7zip", "ACDSee", "Acrobat Reader", "Temporary Files"};
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());

    // The header's indicator tells the order, and each click turns it round.
    QHeaderView *header = results(*page)->header();
    clickHeader(*page, 0);
    const Qt::SortOrder first = header->sortIndicatorOrder();
    QCOMPARE(rowNames(*page), first == Qt::AscendingOrder ? ascending : descending);
    clickHeader(*page, 0);
    QVERIFY(header->sortIndicatorOrder() != first);
    QCOMPARE(rowNames(*page), first == Qt::AscendingOrder ? descending : ascending);

    // A column beyond the three, or a list of one row, is left as it is.
    page->treeWidgetRightOnClickColumn(3);
    QCOMPARE(rowNames(*page), first == Qt::AscendingOrder ? descending : ascending);
    for (const char *unchecked : {"7zip", "ACDSee", "Acrobat Reader"})
        entry(category(*page, "Applications"), unchecked)->setCheckState(0, Qt::Unchecked);
    analyse(*page);
    QCOMPARE(rowNames(*page), QStringList{"Temporary Files"});
    clickHeader(*page, 1);
    clickHeader(*page, 0);
    QCOMPARE(rowNames(*page), QStringList{"Temporary Files"});
}

void DiskWidgetPageTest::stoppingAnAnalysis_data()
{
    QTest::addColumn<bool>("afterFirstRow");

    QTest::newRow("at once") << false;
    QTest::newRow("after the first row") << true;
}

void DiskWidgetPageTest::stoppingAnAnalysis()
{
    QFETCH(bool, afterFirstRow);

    constexpr int manyFiles = 20000;
    m_prefix->writeFile(temp() + "/a.tmp", "a");
    for (int file = 0; file < manyFiles; ++file)
        m_prefix->writeFile(plugInFolder("SevenZip") + "/f" + std::to_string(file), "");
    const auto page = makePage();

    page->on_scan();
    if (afterFirstRow)
        QTRY_VERIFY_WITH_TIMEOUT(!rows(*page).isEmpty(), workTimeoutMs);
    const int rowsBefore = static_cast<int>(rows(*page).size());
    page->on_scan();
    QCOMPARE(m_answers.asked.last(), QString("Aborted scanning the select files?"));

    // The end of an analysis is carried out at once.
    QCOMPARE(page->runState(), DiskWidgetPage::Analysed);
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Scan"));
    QVERIFY(!catalogue(*page)->topLevelItem(0)->isDisabled());
    QVERIFY(page->findChild<QLabel *>("processBar")->isHidden());

    // Nothing the stopped worker still had in the pipe shows up later.
    QTRY_VERIFY_WITH_TIMEOUT(!page->workerRunning(), workTimeoutMs);
    QCoreApplication::processEvents();
    QCOMPARE(static_cast<int>(rows(*page).size()), rowsBefore);
    for (const Row &row : rows(*page))
        QVERIFY(!row.name.isEmpty() && !row.number.isEmpty() && !row.size.isEmpty());
    QVERIFY(page->findChild<QLabel *>("processBar")->isHidden());
    QCOMPARE(page->runState(), DiskWidgetPage::Analysed);

    // A new analysis runs whole, as if nothing had been stopped.
    analyse(*page);
    const QList<Row> found = rows(*page);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[1].name, QString("7zip"));
    QCOMPARE(found[1].number, QString::number(manyFiles));
}

void DiskWidgetPageTest::closingDuringARun_data()
{
    QTest::addColumn<bool>("cleaning");

    QTest::newRow("analysis") << false;
    QTest::newRow("clean") << true;
}

void DiskWidgetPageTest::closingDuringARun()
{
    QFETCH(bool, cleaning);

    constexpr int manyFiles = 20000;
    for (int file = 0; file < manyFiles; ++file)
        m_prefix->writeFile(plugInFolder("SevenZip") + "/f" + std::to_string(file), "");
    auto page = makePage();
    if (cleaning) {
        analyse(*page);
        page->on_fix();
        QCOMPARE(page->runState(), DiskWidgetPage::Cleaning);
    } else {
        page->on_scan();
        QCOMPARE(page->runState(), DiskWidgetPage::Analysing);
    }

    // The page goes while its worker runs: it stops and waits for it, and what the worker had
    // asked for goes with the page.
    page.reset();
    QCoreApplication::processEvents();
    QTest::qWait(20);

    // The next page works as usual.
    page = makePage();
    analyse(*page);
    if (!cleaning)
        QCOMPARE(rows(*page).size(), 1);
}

void DiskWidgetPageTest::jobStartsAfterThePreviousReturned()
{
    std::atomic<bool> firstReturned{false};
    std::atomic<bool> firstRunning{false};
    std::atomic<bool> secondSawFirstReturned{false};
    std::atomic<bool> secondSawStopRequest{true};

    auto first = std::make_unique<DiskJob>(nullptr, [&](const DiskJob &job) {
        firstRunning = true;
        while (!job.stopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // Still busy a little after the stop, as an item finishing a file would be.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        firstReturned = true;
    });
    QTRY_VERIFY(firstRunning);
    first->requestStop();
    QVERIFY(diskcleaner::StopRequested());

    DiskJob second(std::move(first), [&](const DiskJob &) {
        secondSawFirstReturned = firstReturned.load();
        secondSawStopRequest = diskcleaner::StopRequested();
    });
    second.wait();
    QVERIFY(second.finished());
    QVERIFY(secondSawFirstReturned);
    // The stop left by the first job does not reach the second.
    QVERIFY(!secondSawStopRequest);
}

void DiskWidgetPageTest::jobStoppedBeforeItsTurnDoesNothing()
{
    std::atomic<bool> release{false};
    std::atomic<bool> secondRan{false};
    auto first = std::make_unique<DiskJob>(nullptr, [&](const DiskJob &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    DiskJob second(std::move(first), [&](const DiskJob &) { secondRan = true; });
    second.requestStop();
    release = true;
    second.wait();
    QVERIFY(!secondRan);
    // Its stop still holds for the engine's walks.
    QVERIFY(diskcleaner::StopRequested());
    diskcleaner::ClearStopRequest();
}

void DiskWidgetPageTest::animationFrames()
{
    const auto page = makePage();
    const auto *label = page->findChild<QLabel *>("labelImage");
    QCOMPARE(pictureShown(label), 0);

    // Idle: the start picture stays.
    page->slotShowFlash();
    QCOMPARE(pictureShown(label), 0);

    // While a worker runs, the three frames take turns.
    page->on_scan();
    for (const int frame : {1, 2, 3, 1, 2}) {
        page->slotShowFlash();
        QCOMPARE(pictureShown(label), frame);
    }
    QTRY_VERIFY_WITH_TIMEOUT(page->runState() == DiskWidgetPage::Analysed, workTimeoutMs);
    const int last = pictureShown(label);
    page->slotShowFlash();
    QCOMPARE(pictureShown(label), last);
}

void DiskWidgetPageTest::missingSkinLeavesThePictureEmpty()
{
    const QString hidden = skinFolder() + ".away";
    QDir().rename(skinFolder(), hidden);
    const auto restore = qScopeGuard([&] { QDir().rename(hidden, skinFolder()); });

    const auto page = makePage();
    const auto *label = page->findChild<QLabel *>("labelImage");
    QCOMPARE(pictureShown(label), -1);
    page->on_scan();
    page->slotShowFlash();
    QCOMPARE(pictureShown(label), -1);
    QTRY_VERIFY_WITH_TIMEOUT(page->runState() == DiskWidgetPage::Analysed, workTimeoutMs);
}

void DiskWidgetPageTest::translateSetsTextsInTheirContexts()
{
    m_prefix->writeFile(temp() + "/a.tmp", "a");
    writeJunk("SevenZip", 1, 1);
    const auto page = makePage();
    analyse(*page);
    QCOMPARE(rowNames(*page), QStringList({"Temporary Files", "7zip"}));

    GermanTranslator translator;
    QCoreApplication::installTranslator(&translator);
    const auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });
    page->translate();

    // Form texts in "DiskWidget", texts of the page's own code in "DiskWidgetPage".
    QCOMPARE(button(*page, "pushButtonClean")->text(), QString("Bereinigen"));
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Prüfen"));
    QCOMPARE(results(*page)->headerItem()->text(0), QString("Name (de)"));
    QVERIFY(category(*page, "Anwendungen"));
    QVERIFY(entry(category(*page, "System"), "Temporäre Dateien"));
    // An entry made from the link table keeps the text it was made with.
    QVERIFY(entry(category(*page, "Anwendungen"), "7zip"));
    // The rows follow the language.
    QCOMPARE(rowNames(*page), QStringList({"Temporäre Dateien", "7-Zip-Verlauf"}));

    page->on_scan();
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Anhalten"));
    QTRY_VERIFY_WITH_TIMEOUT(page->runState() == DiskWidgetPage::Analysed && !page->workerRunning(),
                             workTimeoutMs);
    QCOMPARE(rowNames(*page), QStringList{"Temporäre Dateien"});

    // Back in English, the rows are found and cleaned by their items as before.
    QCoreApplication::removeTranslator(&translator);
    page->translate();
    QCOMPARE(button(*page, "pushButtonAnalyze")->text(), QString("Scan"));
    QCOMPARE(rowNames(*page), QStringList{"Temporary Files"});
    cleanRows(*page);
    QVERIFY(rows(*page).isEmpty());
    QVERIFY(!TestPrefix::exists(m_prefix->hostPath(temp() + "/a.tmp")));
}

QTEST_MAIN(DiskWidgetPageTest)
#include "DiskWidgetPageTest.moc"
