// bench_disk_page: times the Disk page's analysis of its default selection on a prefix whose
// temporary folder holds many files, and how much of that time the pauses after each progress
// text take.
//
//   bench_disk_page [--files N] [--rounds N] [FOLDER]
//
// Builds a small Wine prefix in FOLDER (default: a new folder under /tmp) with N files of 64 bytes
// (default 50,000) directly in the user's temporary folder, and a recycle bin of its own. The page
// runs with the plug-in files beside this program (the build copies the shipped ones there), on
// Qt's offscreen platform. For each round it measures, from "Analyze" to the end of the analysis
// shown on the page:
//   - the wall time of the page's analysis (worker, queued widget changes, pauses);
//   - the same items scanned one after another on this thread, without page or pauses;
// and it counts the progress texts, each followed by a 2 ms pause, whose real length it measures.

#include "DiskWidgetPage.h"

#include <disk_cleaner/Catalogue.h>
#include <disk_cleaner/CleaningItems.h>
#include <disk_cleaner/PlugInfo.h>
#include <disk_cleaner/TextPlugInfo.h>

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>
#include <platform/Text.h>

#include <reference_checks/Sleep.h>

#include <QApplication>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string plugInFolder()
{
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/plug-ins")).toStdString();
}

// The items the page analyses with the catalogue as it starts: those whose title leads to a
// checked entry.
std::vector<std::unique_ptr<diskcleaner::PlugInfo>> defaultSelection()
{
    const std::vector<diskcleaner::CatalogueSection> catalogue = diskcleaner::CompletedCatalogue();
    std::vector<std::unique_ptr<diskcleaner::PlugInfo>> selected;
    for (auto &item :
         diskcleaner::CreateCleaningItems(plugInFolder(), diskcleaner::CreateTextPlugInfo)) {
        const std::u16string text = diskcleaner::LinkedDisplayText(item->GetTitle());
        if (!text.empty() && diskcleaner::IsEntryChecked(catalogue, text))
            selected.push_back(std::move(item));
    }
    return selected;
}

// The real length of one pause, averaged.
double pauseSeconds()
{
    constexpr int pauses = 200;
    const Clock::time_point start = Clock::now();
    for (int pause = 0; pause < pauses; ++pause)
        sleepMs(2);
    return secondsSince(start) / pauses;
}

// Runs one analysis on the page and returns its wall time, up to the end shown on the page.
double timePageAnalysis(DiskWidgetPage &page)
{
    const Clock::time_point start = Clock::now();
    page.on_scan();
    while (page.runState() != DiskWidgetPage::Analysed)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = secondsSince(start);
    while (page.workerRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    int files = 50000;
    int rounds = 5;
    std::string root;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if ((argument == "--files" || argument == "--rounds") && index + 1 < argc) {
            (argument == "--files" ? files : rounds) = std::atoi(argv[++index]);
        } else if (!argument.empty() && argument[0] != '-') {
            root = argument;
        } else {
            std::fprintf(stderr, "usage: %s [--files N] [--rounds N] [FOLDER]\n", argv[0]);
            return 2;
        }
    }
    if (files < 0 || rounds < 1) {
        std::fprintf(stderr, "counts must be positive\n");
        return 2;
    }
    std::error_code error;
    if (root.empty())
        root = (fs::temp_directory_path() / "nimbra-bench-disk-page").string();
    fs::remove_all(root, error);

    // The recycle bin item empties nothing here, but it must not even look at the real trash.
    const fs::path prefix = fs::path(root) / "prefix";
    const fs::path dataHome = fs::path(root) / "data-home";
    fs::create_directories(dataHome / "Trash" / "files");
    fs::create_directories(dataHome / "Trash" / "info");
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c" / "windows" / "system32");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:", error);
    std::string openError;
    auto machine = platform::openPrefixMachine(prefix.string(), &openError);
    if (!machine) {
        std::fprintf(stderr, "cannot open the prefix: %s\n", openError.c_str());
        return 1;
    }
    const std::string user = platform::toUtf8(machine->userName());
    platform::Machine::install(std::move(machine));

    const fs::path temp = prefix / "drive_c" / "users" / user / "Temp";
    fs::create_directories(temp);
    std::printf("Writing %d files to %s ...\n", files, temp.c_str());
    const std::string content(64, 't');
    for (int file = 0; file < files; ++file)
        std::ofstream(temp / ("file" + std::to_string(file) + ".tmp"), std::ios::binary) << content;

    QApplication application(argc, argv);
    DiskWidgetPage page(nullptr);
    page.setQuestion([](const QString &) { return true; });

    std::vector<std::unique_ptr<diskcleaner::PlugInfo>> selected = defaultSelection();
    const double pause = pauseSeconds();
    std::printf("Default selection: %zu items, so %zu progress texts; one 2 ms pause lasts "
                "%.3f ms\n",
                selected.size(), selected.size(), pause * 1000);

    std::vector<double> pageTimes, engineTimes;
    for (int round = 0; round < rounds; ++round) {
        pageTimes.push_back(timePageAnalysis(page));
        const Clock::time_point start = Clock::now();
        for (const auto &item : selected)
            item->Scan();
        engineTimes.push_back(secondsSince(start));
    }
    const auto *results = page.findChild<QTreeWidget *>("treeWidgetRight");
    for (int row = 0; results && row < results->topLevelItemCount(); ++row) {
        std::printf("  row: %s, %s, %s\n", qPrintable(results->topLevelItem(row)->text(0)),
                    qPrintable(results->topLevelItem(row)->text(1)),
                    qPrintable(results->topLevelItem(row)->text(2)));
    }

    const double pauses = pause * static_cast<double>(selected.size());
    const double best = *std::min_element(pageTimes.begin(), pageTimes.end());
    const double middle = median(pageTimes);
    std::printf("Page analysis     best %8.1f ms   median %8.1f ms   (%d rounds)\n", best * 1000,
                middle * 1000, rounds);
    std::printf("Items alone       best %8.1f ms   median %8.1f ms\n",
                *std::min_element(engineTimes.begin(), engineTimes.end()) * 1000,
                median(engineTimes) * 1000);
    std::printf("Pauses            %8.1f ms = %.1f%% of the median page analysis\n", pauses * 1000,
                100 * pauses / middle);

    fs::remove_all(root, error);
    return 0;
}
