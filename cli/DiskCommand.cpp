#include "DiskCommand.h"

#include <disk_cleaner/Catalogue.h>
#include <disk_cleaner/CleaningItems.h>
#include <disk_cleaner/PlugInfo.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/TextPlugInfo.h>

#include <reference_checks/SizeText.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace {

const QString itemOption = QStringLiteral("item");
const QString entryOption = QStringLiteral("entry");
const QString filesOption = QStringLiteral("files");
const QString yesOption = QStringLiteral("yes");

const QString itemsAction = QStringLiteral("items");
const QString analyzeAction = QStringLiteral("analyze");
const QString cleanAction = QStringLiteral("clean");

using ItemList = std::vector<std::unique_ptr<diskcleaner::PlugInfo>>;

int usageError(CommandContext &context, const QString &message)
{
    context.err << "nimbra: " << message << '\n' << "Try 'nimbra disk --help'.\n";
    return ExitUsage;
}

// The plug-in folder beside the program, as the window uses it.
std::string plugInFolder()
{
    if (!QCoreApplication::instance())
        return {};
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/plug-ins")).toStdString();
}

QString titleOf(const diskcleaner::PlugInfo &item)
{
    return QString::fromStdU16String(item.GetTitle());
}

// Byte counts beyond what a size text takes are shown as the largest it takes.
QString sizeText(std::uint64_t bytes)
{
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<qint64>::max());
    return formatSizeText(static_cast<qint64>(bytes > largest ? largest : bytes));
}

// JSON numbers are doubles; a count beyond 2^53 would lose digits, which no disk reaches.
QJsonValue number(std::uint64_t value)
{
    return QJsonValue(static_cast<double>(value));
}

bool hasTitle(const diskcleaner::PlugInfo &item, const QString &title)
{
    return titleOf(item).compare(title, Qt::CaseInsensitive) == 0;
}

// The items the titles name, in list order, each once; every item when there are no titles.
// False, with the first unknown title in `unknown`, when a title names no item.
bool selectItems(const ItemList &items, const QStringList &titles,
                 std::vector<diskcleaner::PlugInfo *> &selected, QString &unknown)
{
    for (const QString &title : titles) {
        if (std::none_of(items.begin(), items.end(),
                         [&](const auto &item) { return hasTitle(*item, title); })) {
            unknown = title;
            return false;
        }
    }
    for (const auto &item : items) {
        if (titles.isEmpty() ||
            std::any_of(titles.begin(), titles.end(),
                        [&](const QString &title) { return hasTitle(*item, title); }))
            selected.push_back(item.get());
    }
    return true;
}

// The items that the checked entries of the Disk page's catalogue lead to, in list order: the
// entries checked when the page starts, or only the entries of the given texts (compared without
// regard to case). False, with the first text that names no entry in `unknown`, when a text names
// none.
bool selectByCatalogue(const ItemList &items, const QStringList &entries,
                       std::vector<diskcleaner::PlugInfo *> &selected, QString &unknown)
{
    std::vector<diskcleaner::CatalogueSection> catalogue = diskcleaner::CompletedCatalogue();
    if (!entries.isEmpty()) {
        QList<bool> matched(entries.size(), false);
        for (diskcleaner::CatalogueSection &section : catalogue) {
            for (diskcleaner::CatalogueChoice &choice : section.entries) {
                const QString text = QString::fromStdU16String(choice.text);
                choice.checked = false;
                for (qsizetype entry = 0; entry < entries.size(); ++entry) {
                    if (text.compare(entries[entry], Qt::CaseInsensitive) == 0) {
                        choice.checked = true;
                        matched[entry] = true;
                    }
                }
            }
        }
        if (const qsizetype missing = matched.indexOf(false); missing >= 0) {
            unknown = entries[missing];
            return false;
        }
    }
    for (const auto &item : items) {
        const std::u16string text = diskcleaner::LinkedDisplayText(item->GetTitle());
        if (!text.empty() && diskcleaner::IsEntryChecked(catalogue, text))
            selected.push_back(item.get());
    }
    return true;
}

// The name the Disk page shows for an item: the text of its catalogue entry, else its title.
QString displayTextOf(const diskcleaner::PlugInfo &item)
{
    const std::u16string text = diskcleaner::LinkedDisplayText(item.GetTitle());
    return text.empty() ? titleOf(item) : QString::fromStdU16String(text);
}

QString knownTitles(const ItemList &items)
{
    QStringList titles;
    for (const auto &item : items)
        titles.append(titleOf(*item));
    return titles.join(QStringLiteral(", "));
}

void writeJson(CommandContext &context, const QJsonArray &items)
{
    context.out << QJsonDocument(QJsonObject{{QStringLiteral("items"), items}})
                           .toJson(QJsonDocument::Indented);
}

int listItems(CommandContext &context, const ItemList &items)
{
    if (context.json) {
        QJsonArray list;
        for (const auto &item : items) {
            list.append(QJsonObject{
                    {QStringLiteral("title"), titleOf(*item)},
                    {QStringLiteral("description"),
                     QString::fromStdU16String(item->GetDescription())},
            });
        }
        writeJson(context, list);
        return ExitSuccess;
    }
    for (const auto &item : items) {
        context.out << titleOf(*item) << '\n'
                    << "    " << QString::fromStdU16String(item->GetDescription()) << '\n';
    }
    return ExitSuccess;
}

int analyze(CommandContext &context, const std::vector<diskcleaner::PlugInfo *> &items,
            bool withFiles)
{
    diskcleaner::ClearStopRequest();
    QJsonArray list;
    for (diskcleaner::PlugInfo *item : items) {
        item->Scan();
        diskcleaner::FileList files;
        if (withFiles)
            item->GetFileList(files);
        if (context.json) {
            QJsonObject entry{
                    {QStringLiteral("title"), titleOf(*item)},
                    {QStringLiteral("entry"), displayTextOf(*item)},
                    {QStringLiteral("found"), number(item->GetItemsFound())},
                    {QStringLiteral("bytes"), number(item->GetBytesFound())},
                    {QStringLiteral("size"), sizeText(item->GetBytesFound())},
            };
            if (withFiles) {
                QJsonArray fileList;
                for (const std::u16string &file : files)
                    fileList.append(QString::fromStdU16String(file));
                entry.insert(QStringLiteral("files"), fileList);
            }
            list.append(entry);
            continue;
        }
        context.out << displayTextOf(*item) << ": " << item->GetItemsFound() << " found, "
                    << sizeText(item->GetBytesFound()) << '\n';
        for (const std::u16string &file : files)
            context.out << "    " << QString::fromStdU16String(file) << '\n';
    }
    if (context.json)
        writeJson(context, list);
    return ExitSuccess;
}

int clean(CommandContext &context, const std::vector<diskcleaner::PlugInfo *> &items)
{
    diskcleaner::ClearStopRequest();
    // An item cleans what its own last scan found, so every item scans first.
    for (diskcleaner::PlugInfo *item : items)
        item->Scan();
    QJsonArray list;
    for (diskcleaner::PlugInfo *item : items) {
        item->Clean();
        if (context.json) {
            list.append(QJsonObject{
                    {QStringLiteral("title"), titleOf(*item)},
                    {QStringLiteral("found"), number(item->GetItemsFound())},
                    {QStringLiteral("foundBytes"), number(item->GetBytesFound())},
                    {QStringLiteral("removed"), number(item->GetItemsCleaned())},
                    {QStringLiteral("removedBytes"), number(item->GetBytesCleaned())},
                    {QStringLiteral("removedSize"), sizeText(item->GetBytesCleaned())},
            });
            continue;
        }
        context.out << titleOf(*item) << ": " << item->GetItemsCleaned() << " removed, "
                    << sizeText(item->GetBytesCleaned()) << " (" << item->GetItemsFound()
                    << " found, " << sizeText(item->GetBytesFound()) << ")\n";
    }
    if (context.json)
        writeJson(context, list);
    return ExitSuccess;
}

} // namespace

QString DiskCommand::synopsis() const
{
    return QStringLiteral("items | analyze [--item TITLE | --entry TEXT]... [--files] | clean "
                          "[--item TITLE]... --yes");
}

QList<QCommandLineOption> DiskCommand::options() const
{
    return {
            QCommandLineOption(itemOption,
                               QStringLiteral("Only this item (analyze, clean); may be repeated."),
                               QStringLiteral("TITLE")),
            QCommandLineOption(entryOption,
                               QStringLiteral("Only the items of this entry of the Disk page's "
                                              "list (analyze); may be repeated."),
                               QStringLiteral("TEXT")),
            QCommandLineOption(filesOption, QStringLiteral("Also list what was found (analyze).")),
            QCommandLineOption(yesOption, QStringLiteral("Really delete (clean).")),
    };
}

int DiskCommand::run(CommandContext &context) const
{
    if (context.arguments.size() != 1)
        return usageError(context,
                          QStringLiteral("disk needs one action: items, analyze or clean"));
    const QString action = context.arguments.first();
    if (action != itemsAction && action != analyzeAction && action != cleanAction)
        return usageError(context, QStringLiteral("unknown disk action '%1'").arg(action));
    const QStringList titles = context.parser.values(itemOption);
    const QStringList entries = context.parser.values(entryOption);
    const bool withFiles = context.parser.isSet(filesOption);
    const bool confirmed = context.parser.isSet(yesOption);
    if (action == itemsAction && !titles.isEmpty())
        return usageError(context, QStringLiteral("--item goes with analyze and clean"));
    if (!entries.isEmpty() && action != analyzeAction)
        return usageError(context, QStringLiteral("--entry goes with analyze"));
    if (!entries.isEmpty() && !titles.isEmpty())
        return usageError(context, QStringLiteral("--item and --entry do not go together"));
    if (withFiles && action != analyzeAction)
        return usageError(context, QStringLiteral("--files goes with analyze"));
    if (confirmed && action != cleanAction)
        return usageError(context, QStringLiteral("--yes goes with clean"));

    const ItemList items =
            diskcleaner::CreateCleaningItems(plugInFolder(), diskcleaner::CreateTextPlugInfo);
    if (action == itemsAction)
        return listItems(context, items);

    std::vector<diskcleaner::PlugInfo *> selected;
    QString unknown;
    // Without titles an analysis takes what the Disk page takes.
    if (action == analyzeAction && titles.isEmpty()) {
        if (!selectByCatalogue(items, entries, selected, unknown))
            return usageError(context,
                              QStringLiteral("no catalogue entry is named '%1'").arg(unknown));
        return analyze(context, selected, withFiles);
    }
    if (!selectItems(items, titles, selected, unknown)) {
        return usageError(context, QStringLiteral("no item is titled '%1'; the items are: %2")
                                           .arg(unknown, knownTitles(items)));
    }
    if (action == analyzeAction)
        return analyze(context, selected, withFiles);
    if (!confirmed) {
        return usageError(context, QStringLiteral("disk clean deletes files and changes nothing "
                                                  "without --yes"));
    }
    return clean(context, selected);
}
