// bench_folder_walk: times the recursive folder walk against find(1) and rm(1) on one tree.
//
//   bench_folder_walk [--files N] [--folders N] [--rounds N] [FOLDER]
//
// Builds a small Wine prefix in FOLDER (default: a new folder under /tmp) holding N small files
// spread over N folders, warms the cache, then times, side by side:
//   - a recursive "*.*" scan against `find TREE -type f -printf '%s\n' > /dev/null`;
//   - a clean (with base-folder removal) of one copy against `rm -rf` of another (copies by
//     `cp -a`).
// Each figure is the best of the rounds: wall time, and user and system CPU time (our own for the
// walk, the children's for the commands).

#include <disk_cleaner/FolderProcessing.h>

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Times
{
    double wall = 0;
    double user = 0;
    double system = 0;
};

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs work once and measures it; `who` says whose CPU time counts.
Times measure(int who, const std::function<void()> &work)
{
    rusage before{};
    getrusage(who, &before);
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto stop = std::chrono::steady_clock::now();
    rusage after{};
    getrusage(who, &after);
    return {std::chrono::duration<double>(stop - start).count(),
            seconds(after.ru_utime) - seconds(before.ru_utime),
            seconds(after.ru_stime) - seconds(before.ru_stime)};
}

Times best(const std::vector<Times> &runs)
{
    Times result = runs.front();
    for (const Times &run : runs) {
        result.wall = std::min(result.wall, run.wall);
        result.user = std::min(result.user, run.user);
        result.system = std::min(result.system, run.system);
    }
    return result;
}

std::string quoted(const std::string &text)
{
    std::string result = "'";
    for (char unit : text)
        result += unit == '\'' ? std::string("'\\''") : std::string(1, unit);
    return result + "'";
}

void runCommand(const std::string &command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// "prefix" followed by the number (appended, which keeps GCC 12's -Wrestrict quiet).
std::string numbered(const char *prefix, int number, const char *suffix = "")
{
    std::string name = prefix;
    name += std::to_string(number);
    name += suffix;
    return name;
}

// Folders in two levels (about sqrt(folders) groups), files spread evenly, 64 bytes each.
void buildTree(const fs::path &tree, int files, int folders)
{
    const int groups = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(folders))));
    const std::string content(64, 'x');
    for (int folder = 0; folder < folders; ++folder) {
        const fs::path path = tree / numbered("g", folder % groups) / numbered("folder", folder);
        fs::create_directories(path);
        const int first = static_cast<int>(static_cast<long long>(files) * folder / folders);
        const int last = static_cast<int>(static_cast<long long>(files) * (folder + 1) / folders);
        for (int file = first; file < last; ++file) {
            const fs::path name = path / numbered("file", file, ".tmp");
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::write(fd, content.data(), content.size()) < 0) {
                std::perror(name.c_str());
                std::exit(1);
            }
            ::close(fd);
        }
    }
}

void printRow(const char *name, const Times &times)
{
    std::printf("  %-34s wall %8.3f s   user %8.3f s   sys %8.3f s\n", name, times.wall, times.user,
                times.system);
}

void printRatio(const char *name, const Times &ours, const Times &theirs, double goal)
{
    std::printf("  %-34s wall %8.2fx   cpu %8.2fx   (goal <= %.1fx)\n", name,
                ours.wall / theirs.wall, (ours.user + ours.system) / (theirs.user + theirs.system),
                goal);
}

} // namespace

int main(int argc, char **argv)
{
    int files = 200000;
    int folders = 10000;
    int rounds = 3;
    std::string root;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if ((argument == "--files" || argument == "--folders" || argument == "--rounds") &&
            index + 1 < argc) {
            const int value = std::atoi(argv[++index]);
            (argument == "--files" ? files : argument == "--folders" ? folders : rounds) = value;
        } else if (!argument.empty() && argument[0] != '-') {
            root = argument;
        } else {
            std::fprintf(stderr, "usage: %s [--files N] [--folders N] [--rounds N] [FOLDER]\n",
                         argv[0]);
            return 2;
        }
    }
    if (files < 1 || folders < 1 || rounds < 1) {
        std::fprintf(stderr, "counts must be positive\n");
        return 2;
    }
    bool ownRoot = false;
    if (root.empty()) {
        std::string pattern = (fs::temp_directory_path() / "nimbra-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        root = pattern;
        ownRoot = true;
    }

    const fs::path prefix = fs::path(root) / "prefix";
    const fs::path driveC = prefix / "drive_c";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(driveC);
    std::error_code ignored;
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:", ignored);
    std::string error;
    auto machine = platform::openPrefixMachine(prefix.string(), &error);
    if (!machine) {
        std::fprintf(stderr, "cannot open the prefix: %s\n", error.c_str());
        return 1;
    }
    platform::Machine::install(std::move(machine));

    const fs::path tree = driveC / "tree";
    fs::remove_all(tree, ignored);
    std::printf("Building %d files in %d folders under %s ...\n", files, folders, tree.c_str());
    buildTree(tree, files, folders);
    runCommand("sync");

    diskcleaner::ScanOptions options;
    options.Recursive = true;
    const diskcleaner::PatternList patterns = {u"*.*"};
    const std::string findCommand =
            "find " + quoted(tree.string()) + " -type f -printf '%s\\n' > /dev/null";

    // Warm the cache (and check that the walk sees the whole tree).
    runCommand(findCommand);
    {
        diskcleaner::FileList found;
        const diskcleaner::FolderTotals totals =
                diskcleaner::ScanFilesInFolder(u"C:\\tree\\", patterns, options, found);
        std::printf("Scan sees %llu files, %llu bytes\n",
                    static_cast<unsigned long long>(totals.Count),
                    static_cast<unsigned long long>(totals.Bytes));
        if (totals.Count != static_cast<std::uint64_t>(files))
            std::fprintf(stderr, "warning: the scan saw %llu of %d files\n",
                         static_cast<unsigned long long>(totals.Count), files);
    }

    std::vector<Times> scans, finds;
    for (int round = 0; round < rounds; ++round) {
        const auto scan = [&] {
            diskcleaner::FileList found;
            diskcleaner::ScanFilesInFolder(u"C:\\tree\\", patterns, options, found);
        };
        const auto find = [&] {
            runCommand(findCommand);
        };
        if (round % 2 == 0) {
            scans.push_back(measure(RUSAGE_SELF, scan));
            finds.push_back(measure(RUSAGE_CHILDREN, find));
        } else {
            finds.push_back(measure(RUSAGE_CHILDREN, find));
            scans.push_back(measure(RUSAGE_SELF, scan));
        }
    }

    diskcleaner::ScanOptions cleanOptions = options;
    cleanOptions.DelBaseFolder = true;
    std::vector<Times> cleans, removals;
    for (int round = 0; round < rounds; ++round) {
        const fs::path ourCopy = driveC / "copy-clean";
        const fs::path theirCopy = driveC / "copy-rm";
        runCommand("cp -a " + quoted(tree.string()) + " " + quoted(ourCopy.string()));
        runCommand("cp -a " + quoted(tree.string()) + " " + quoted(theirCopy.string()));
        runCommand("sync");
        std::uint64_t cleaned = 0;
        const auto clean = [&] {
            diskcleaner::FileList found;
            cleaned = diskcleaner::CleanFilesInFolder(u"C:\\copy-clean\\", patterns, cleanOptions,
                                                      found)
                              .Count;
        };
        const auto remove = [&] {
            runCommand("rm -rf " + quoted(theirCopy.string()));
        };
        if (round % 2 == 0) {
            cleans.push_back(measure(RUSAGE_SELF, clean));
            removals.push_back(measure(RUSAGE_CHILDREN, remove));
        } else {
            removals.push_back(measure(RUSAGE_CHILDREN, remove));
            cleans.push_back(measure(RUSAGE_SELF, clean));
        }
        if (cleaned != static_cast<std::uint64_t>(files) || fs::exists(ourCopy))
            std::fprintf(stderr, "warning: the clean removed %llu of %d files%s\n",
                         static_cast<unsigned long long>(cleaned), files,
                         fs::exists(ourCopy) ? " and left the base folder" : "");
        fs::remove_all(ourCopy, ignored);
    }

    std::printf("\nBest of %d rounds, %d files in %d folders:\n", rounds, files, folders);
    printRow("scan, recursive \"*.*\"", best(scans));
    printRow("find -type f -printf '%s\\n'", best(finds));
    printRow("clean, recursive, base folder", best(cleans));
    printRow("rm -rf", best(removals));
    std::printf("\n");
    printRatio("scan / find", best(scans), best(finds), 1.2);
    printRatio("clean / rm -rf", best(cleans), best(removals), 1.1);

    fs::remove_all(ownRoot ? fs::path(root) : prefix, ignored);
    return 0;
}
