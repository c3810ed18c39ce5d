// bench_registry: times loading and saving Wine registry files against reading the same file and
// splitting it into lines, and measures the memory loading takes.
//
//   bench_registry [--rounds N] [--size MB] [SYSTEM_REG]
//
// SYSTEM_REG is the system.reg of a fresh prefix (default: $NIMBRA_WINE_PREFIX/system.reg, or one
// made by wineboot in a new folder under /tmp). A second file of about MB megabytes (default 20)
// repeats its keys under new names ("ZCopy0001\..."), in the order Wine writes keys. For each
// file, side by side, the best of the rounds:
//   - read and split: read the file and cut it into lines (a vector of string views);
//   - load: read the file and parse it (keys, links, times; values are decoded when first used);
//   - values: decode every value of every key once loaded;
//   - save: write the whole text back from memory, unchanged;
//   - change and save: set one value, then write the whole text back;
//   - store: open the registry of a prefix holding the file and open one key (stat, read, parse),
//     and set one value through it (written to a new file, flushed and renamed over the old one);
// and the peak of memory allocated while loading, and while saving, against the file's size
// (counted by this program's allocator, so it includes the file's text).

#include "PrefixRegistry.h"
#include "WineRegistryFile.h"

#include <platform/Registry.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

// Counts the bytes allocated through operator new, and their peak.
namespace {

std::atomic<std::size_t> allocatedBytes{0};
std::atomic<std::size_t> peakBytes{0};
constexpr std::size_t sizeHeader = alignof(std::max_align_t);

void *countedAllocation(std::size_t size)
{
    void *block = std::malloc(size + sizeHeader);
    if (!block)
        throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    const std::size_t now = allocatedBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char *>(block) + sizeHeader;
}

void countedRelease(void *pointer) noexcept
{
    if (!pointer)
        return;
    void *block = static_cast<char *>(pointer) - sizeHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    allocatedBytes.fetch_sub(size);
    std::free(block);
}

} // namespace

void *operator new(std::size_t size)
{
    return countedAllocation(size);
}
void *operator new[](std::size_t size)
{
    return countedAllocation(size);
}
void operator delete(void *pointer) noexcept
{
    countedRelease(pointer);
}
void operator delete[](void *pointer) noexcept
{
    countedRelease(pointer);
}
void operator delete(void *pointer, std::size_t) noexcept
{
    countedRelease(pointer);
}
void operator delete[](void *pointer, std::size_t) noexcept
{
    countedRelease(pointer);
}

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text;
    in.seekg(0, std::ios::end);
    text.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

double bestOf(int rounds, const std::function<void()> &work)
{
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(stop - start).count());
    }
    return best;
}

// Peak bytes allocated while work runs, above what was allocated before.
std::size_t peakOf(const std::function<void()> &work)
{
    const std::size_t before = allocatedBytes.load();
    peakBytes.store(before);
    work();
    return peakBytes.load() - before;
}

// The file's key blocks again and again under new top-level names, until it is big enough.
std::string enlarged(const std::string &original, std::size_t wantedBytes)
{
    const std::size_t firstKey = original.find("\n[");
    const std::string_view blocks = std::string_view(original).substr(firstKey);
    std::string text = original;
    text.reserve(wantedBytes + original.size());
    char prefix[32];
    for (int copy = 1; text.size() < wantedBytes; ++copy) {
        std::snprintf(prefix, sizeof prefix, "\n[ZCopy%04d\\\\", copy);
        std::size_t position = 0;
        while (position < blocks.size()) {
            const std::size_t next = blocks.find("\n[", position + 1);
            const std::size_t end = next == std::string_view::npos ? blocks.size() : next;
            // "\n[" becomes "\n[ZCopyNNNN\\", the rest of the block stays.
            text += prefix;
            text += blocks.substr(position + 2, end - position - 2);
            position = end;
        }
    }
    return text;
}

std::string makeFreshPrefix()
{
    std::string pattern = (fs::temp_directory_path() / "nimbra-bench-registry-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    const std::string prefix = pattern + "/prefix";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX='" + prefix +
                                "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i "
                                ">/dev/null 2>&1 && WINEPREFIX='" +
                                prefix + "' wineserver -w";
    std::printf("Making a prefix with wineboot in %s ...\n", prefix.c_str());
    if (std::system(command.c_str()) != 0)
        return {};
    return prefix + "/system.reg";
}

void benchmark(const std::string &label, const std::string &text, int rounds)
{
    const std::string folder = (fs::temp_directory_path() / "nimbra-bench-registry-file").string();
    fs::create_directories(folder);
    const std::string path = folder + "/system.reg";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    const double megabytes = static_cast<double>(text.size()) / 1e6;

    std::size_t lineCount = 0;
    const double readAndSplit = bestOf(rounds, [&] {
        const std::string read = readFile(path);
        std::vector<std::string_view> lines;
        std::size_t position = 0;
        while (position < read.size()) {
            const void *found = std::memchr(read.data() + position, '\n', read.size() - position);
            const std::size_t end =
                    found ? static_cast<std::size_t>(static_cast<const char *>(found) - read.data())
                          : read.size();
            lines.emplace_back(read.data() + position, end - position);
            position = end + 1;
        }
        lineCount = lines.size();
    });

    std::size_t keys = 0;
    const double load = bestOf(rounds, [&] {
        WineRegistryFile file;
        file.load(readFile(path), 0);
        keys = file.keyCount();
    });

    WineRegistryFile file;
    file.load(readFile(path), 0);
    std::size_t valueCount = 0;
    const double values = bestOf(1, [&] {
        std::vector<WineRegistryFile::Key *> pending{&file.root()};
        while (!pending.empty()) {
            WineRegistryFile::Key *key = pending.back();
            pending.pop_back();
            valueCount += file.values(*key).size();
            for (const auto &subkey : key->subkeys)
                pending.push_back(subkey.get());
        }
    });

    std::size_t savedSize = 0;
    WineRegistryFile unchanged;
    unchanged.load(readFile(path), 0);
    const double save = bestOf(rounds, [&] { savedSize = unchanged.save().size(); });
    const bool identical = unchanged.save() == text;

    WineRegistryFile changing;
    changing.load(readFile(path), 0);
    WineRegistryFile::Key *someKey = &changing.root();
    while (!someKey->subkeys.empty())
        someKey = someKey->subkeys[someKey->subkeys.size() / 2].get();
    FileTime time = 0x1da3c457689c000ULL;
    const double changeAndSave = bestOf(rounds, [&] {
        changing.setValue(*someKey, u"Benchmark", registryString(u"value"), ++time);
        savedSize = changing.save().size();
    });

    const double store = bestOf(rounds, [&] {
        PrefixRegistry registry(folder);
        std::unique_ptr<RegistryKey> key;
        registry.open(RegistryHive::LocalMachine, u"Software", key);
    });

    PrefixRegistry writing(folder);
    std::unique_ptr<RegistryKey> writingKey;
    writing.open(RegistryHive::LocalMachine, u"Software", writingKey);
    int counter = 0;
    const double storeWrite = bestOf(rounds, [&] {
        writingKey->setString(u"Benchmark",
                              std::u16string(1, static_cast<char16_t>(u'a' + counter++ % 26)));
    });

    const std::size_t loadPeak = peakOf([&] {
        WineRegistryFile measured;
        measured.load(readFile(path), 0);
    });
    const std::size_t savePeak = peakOf([&] { savedSize = unchanged.save().size(); });
    std::size_t loadAndValuesPeak = peakOf([&] {
        WineRegistryFile measured;
        measured.load(readFile(path), 0);
        std::vector<WineRegistryFile::Key *> pending{&measured.root()};
        while (!pending.empty()) {
            WineRegistryFile::Key *key = pending.back();
            pending.pop_back();
            measured.values(*key);
            for (const auto &subkey : key->subkeys)
                pending.push_back(subkey.get());
        }
    });

    fs::remove_all(folder);

    std::printf("\n%s: %.2f MB, %zu lines, %zu keys, %zu values; written back identical: %s\n",
                label.c_str(), megabytes, lineCount, keys, valueCount, identical ? "yes" : "NO");
    std::printf("  %-22s %9.2f ms\n", "read and split", readAndSplit * 1e3);
    std::printf("  %-22s %9.2f ms  (%.2fx read and split)\n", "load", load * 1e3,
                load / readAndSplit);
    std::printf("  %-22s %9.2f ms  (once, after loading)\n", "decode every value", values * 1e3);
    std::printf("  %-22s %9.2f ms  (%.2fx read and split)\n", "save unchanged", save * 1e3,
                save / readAndSplit);
    std::printf("  %-22s %9.2f ms  (%.2fx read and split)\n", "change and save",
                changeAndSave * 1e3, changeAndSave / readAndSplit);
    std::printf("  %-22s %9.2f ms\n", "store: open, read key", store * 1e3);
    std::printf("  %-22s %9.2f ms  (written to disk and flushed)\n", "store: set a value",
                storeWrite * 1e3);
    const double size = static_cast<double>(text.size());
    std::printf("  peak memory: load %.1f MB (%.2fx file), load and decode all values %.1f MB "
                "(%.2fx), save %.1f MB (%.2fx)\n",
                static_cast<double>(loadPeak) / 1e6, static_cast<double>(loadPeak) / size,
                static_cast<double>(loadAndValuesPeak) / 1e6,
                static_cast<double>(loadAndValuesPeak) / size, static_cast<double>(savePeak) / 1e6,
                static_cast<double>(savePeak) / size);
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    std::size_t megabytes = 20;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--size" && i + 1 < argc)
            megabytes = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        else
            path = argument;
    }
    if (path.empty()) {
        if (const char *prefix = std::getenv("NIMBRA_WINE_PREFIX"))
            path = std::string(prefix) + "/system.reg";
        else
            path = makeFreshPrefix();
    }
    const std::string original = readFile(path);
    if (original.empty()) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    benchmark("fresh system.reg", original, rounds);
    benchmark("enlarged system.reg", enlarged(original, megabytes * 1000 * 1000), rounds);
    return 0;
}
