#include "RegistryCommand.h"

#include <reference_checks/RegFile.h>
#include <reference_checks/RegistryKey.h>

#include <platform/Machine.h>
#include <platform/Registry.h>

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using platform::RegistryStatus;

const QString recursiveOption = QStringLiteral("recursive");

// Larger registration files are refused unread rather than held in memory.
constexpr qint64 largestImportFile = qint64{1} << 30;

// The deepest that query walks, as deep as keys can lie.
constexpr qsizetype maximumDepth = 512;

int usageError(CommandContext &context, const QString &message)
{
    context.err << "nimbra: " << message << '\n' << "Try 'nimbra registry --help'.\n";
    return ExitUsage;
}

int failure(CommandContext &context, const QString &message)
{
    context.err << "nimbra: " << message << '\n';
    return ExitFailure;
}

QString statusText(RegistryStatus status)
{
    switch (status) {
    case RegistryStatus::Success:
        return QStringLiteral("success");
    case RegistryStatus::FileNotFound:
        return QStringLiteral("not found");
    case RegistryStatus::AccessDenied:
        return QStringLiteral("access denied");
    case RegistryStatus::InvalidParameter:
        return QStringLiteral("a name is too long or the key lies too deep");
    case RegistryStatus::RegistryIoFailed:
        return QStringLiteral("the registry file could not be written");
    case RegistryStatus::KeyDeleted:
        return QStringLiteral("the key was deleted meanwhile");
    case RegistryStatus::InvalidHandle:
    case RegistryStatus::MoreData:
    case RegistryStatus::NoMoreItems:
        break;
    }
    return QStringLiteral("error %1").arg(static_cast<int>(status));
}

// Why the registry cannot be changed now; empty when it can.
QString readOnlyReason(const platform::Registry &registry)
{
    const platform::RegistryWritability writability = registry.writability();
    const QString detail = QString::fromStdString(writability.detail);
    switch (writability.reason) {
    case platform::RegistryReadOnlyReason::None:
        break;
    case platform::RegistryReadOnlyReason::ServerRunning:
        return QStringLiteral("a Wine server (process %1) is running for this prefix and owns its "
                              "registry until it exits; close the Windows programs or wait for it "
                              "(wineserver -w)")
                .arg(detail);
    case platform::RegistryReadOnlyReason::DamagedFile:
        return QStringLiteral("the registry file %1 cannot be read, so it is left alone")
                .arg(detail);
    case platform::RegistryReadOnlyReason::UnsafeFile:
        return QStringLiteral("the registry file %1 is a link, has several names or cannot be "
                              "replaced safely")
                .arg(detail);
    }
    return {};
}

// A key path from the command line: long or short hive names; a name that looks like a hive's
// but is none is refused rather than taken as a key under HKEY_LOCAL_MACHINE.
bool parseKey(const QString &text, RegistryPath &path, QString &problem)
{
    const QString first = text.section(QLatin1Char('\\'), 0, 0, QString::SectionSkipEmpty);
    if (first.isEmpty()) {
        problem = QStringLiteral("no key given");
        return false;
    }
    path = parseRegistryPath(text, HiveNames::LongAndShort);
    if (first.startsWith(QLatin1StringView("HKEY_"), Qt::CaseInsensitive) &&
        first.compare(registryHiveName(path.hive), Qt::CaseInsensitive) != 0) {
        problem = QStringLiteral("unknown root key '%1'").arg(first);
        return false;
    }
    return true;
}

// --- query ------------------------------------------------------------------------------------

QString typeName(std::uint32_t type)
{
    switch (type) {
    case platform::RegNone:
        return QStringLiteral("REG_NONE");
    case platform::RegSz:
        return QStringLiteral("REG_SZ");
    case platform::RegExpandSz:
        return QStringLiteral("REG_EXPAND_SZ");
    case platform::RegBinary:
        return QStringLiteral("REG_BINARY");
    case platform::RegDword:
        return QStringLiteral("REG_DWORD");
    case platform::RegDwordBigEndian:
        return QStringLiteral("REG_DWORD_BIG_ENDIAN");
    case platform::RegLink:
        return QStringLiteral("REG_LINK");
    case platform::RegMultiSz:
        return QStringLiteral("REG_MULTI_SZ");
    case platform::RegResourceList:
        return QStringLiteral("REG_RESOURCE_LIST");
    case platform::RegFullResourceDescriptor:
        return QStringLiteral("REG_FULL_RESOURCE_DESCRIPTOR");
    case platform::RegResourceRequirementsList:
        return QStringLiteral("REG_RESOURCE_REQUIREMENTS_LIST");
    case platform::RegQword:
        return QStringLiteral("REG_QWORD");
    default:
        break;
    }
    // Types without a name (drivers use numbers such as 0xffff0007) show their number.
    return QStringLiteral("0x%1").arg(type, 0, 16);
}

std::uint64_t littleEndianNumber(const std::vector<std::uint8_t> &data)
{
    std::uint64_t number = 0;
    for (std::size_t i = data.size(); i-- > 0;)
        number = number << 8 | data[i];
    return number;
}

// The number a DWORD or QWORD value holds; false when the value is not one of the right size.
bool numberOf(const platform::RegistryValue &value, std::uint64_t &number)
{
    const std::vector<std::uint8_t> &data = value.data;
    if ((value.type == platform::RegDword || value.type == platform::RegDwordBigEndian) &&
        data.size() == 4) {
        number = value.type == platform::RegDword
                         ? littleEndianNumber(data)
                         : littleEndianNumber({data.rbegin(), data.rend()});
        return true;
    }
    if (value.type == platform::RegQword && data.size() == 8) {
        number = littleEndianNumber(data);
        return true;
    }
    return false;
}

QStringList stringsOf(const platform::RegistryValue &value)
{
    QStringList strings;
    QString current;
    const std::vector<std::uint8_t> &data = value.data;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != u'\0') {
            current.append(QChar(unit));
        } else if (current.isEmpty()) {
            return strings;
        } else {
            strings.append(current);
            current.clear();
        }
    }
    if (!current.isEmpty())
        strings.append(current);
    return strings;
}

QString hexText(const std::vector<std::uint8_t> &data)
{
    QString text;
    for (const std::uint8_t byte : data)
        text += QStringLiteral("%1").arg(uint{byte}, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

bool isText(std::uint32_t type)
{
    return type == platform::RegSz || type == platform::RegExpandSz;
}

QString dataText(const platform::RegistryValue &value)
{
    std::uint64_t number = 0;
    if (isText(value.type))
        return QString::fromStdU16String(platform::registryText(value));
    if (value.type == platform::RegMultiSz)
        return stringsOf(value).join(QLatin1StringView("\\0"));
    if (numberOf(value, number))
        return QStringLiteral("0x%1").arg(number, 0, 16);
    return hexText(value.data);
}

QJsonValue dataJson(const platform::RegistryValue &value)
{
    std::uint64_t number = 0;
    if (value.type == platform::RegMultiSz)
        return QJsonArray::fromStringList(stringsOf(value));
    if (numberOf(value, number)) {
        // JSON numbers are exact only up to 2^53; larger ones are given as decimal text.
        if (number <= (std::uint64_t{1} << 53))
            return static_cast<qint64>(number);
        return QString::number(number);
    }
    return dataText(value);
}

struct QueriedKey
{
    QString path;
    std::vector<std::pair<QString, platform::RegistryValue>> values;
    QStringList subkeys;
};

QueriedKey readKey(const platform::RegistryKey &key, const QString &path)
{
    QueriedKey result;
    result.path = path;
    std::u16string name;
    platform::RegistryValue value;
    for (std::uint32_t index = 0; key.valueAt(index, name, &value) == RegistryStatus::Success;
         ++index)
        result.values.emplace_back(QString::fromStdU16String(name), value);
    for (std::uint32_t index = 0; key.subkeyName(index, name) == RegistryStatus::Success; ++index)
        result.subkeys.append(QString::fromStdU16String(name));
    return result;
}

QString valueLines(const QueriedKey &key)
{
    QString text;
    for (const auto &[name, value] : key.values) {
        text += QStringLiteral("    %1    %2    %3\n")
                        .arg(name.isEmpty() ? QStringLiteral("(Default)") : name,
                             typeName(value.type), dataText(value));
    }
    return text;
}

QJsonObject keyJson(const QueriedKey &key)
{
    QJsonArray values;
    for (const auto &[name, value] : key.values) {
        values.append(QJsonObject{{QStringLiteral("name"), name},
                                  {QStringLiteral("type"), typeName(value.type)},
                                  {QStringLiteral("data"), dataJson(value)}});
    }
    return {{QStringLiteral("key"), key.path}, {QStringLiteral("values"), values}};
}

// A key's block: its path, its values and a blank line. The key queried shows its block only
// when it has values; the keys below it always do.
QString block(const QueriedKey &key, bool top)
{
    if (top && key.values.empty())
        return {};
    return key.path + QLatin1Char('\n') + valueLines(key) + QLatin1Char('\n');
}

// Each key's block, then its subkeys' blocks.
void queryRecursive(const platform::RegistryKey &key, const QString &path, qsizetype depth,
                    bool top, QString &text, QJsonObject &json)
{
    const QueriedKey queried = readKey(key, path);
    text += block(queried, top);
    json = keyJson(queried);
    QJsonArray subkeys;
    for (const QString &name : queried.subkeys) {
        std::unique_ptr<platform::RegistryKey> subkey;
        if (depth >= maximumDepth ||
            key.open(name.toStdU16String(), subkey) != RegistryStatus::Success)
            continue;
        QJsonObject subkeyJson;
        queryRecursive(*subkey, path + QLatin1Char('\\') + name, depth + 1, false, text,
                       subkeyJson);
        subkeys.append(subkeyJson);
    }
    json.insert(QStringLiteral("subkeys"), subkeys);
}

int query(CommandContext &context, const RegistryPath &path)
{
    const platform::Registry &registry = platform::Machine::current().registry();
    std::unique_ptr<platform::RegistryKey> key;
    const RegistryStatus status = registry.open(path.hive, path.subPath().toStdU16String(), key);
    if (status != RegistryStatus::Success)
        return failure(
                context,
                QStringLiteral("cannot open the key %1: %2").arg(path.text(), statusText(status)));

    QString text = QStringLiteral("\n");
    QJsonObject json;
    if (context.parser.isSet(recursiveOption)) {
        queryRecursive(*key, path.text(), path.names.size(), true, text, json);
    } else {
        const QueriedKey queried = readKey(*key, path.text());
        text += block(queried, true);
        for (const QString &name : queried.subkeys)
            text += queried.path + QLatin1Char('\\') + name + QLatin1Char('\n');
        json = keyJson(queried);
        json.insert(QStringLiteral("subkeys"), QJsonArray::fromStringList(queried.subkeys));
    }
    if (context.json)
        context.out << QJsonDocument(json).toJson(QJsonDocument::Indented);
    else
        context.out << text;
    return ExitSuccess;
}

// --- export and import ------------------------------------------------------------------------

int exportKey(CommandContext &context, const RegistryPath &path, const QString &fileName)
{
    RegFile file;
    const RegistryStatus status = file.readKey(platform::Machine::current().registry(), path);
    if (status != RegistryStatus::Success)
        return failure(
                context,
                QStringLiteral("cannot open the key %1: %2").arg(path.text(), statusText(status)));
    // Written beside and renamed over, so an earlier file is never left half replaced.
    QSaveFile output(fileName);
    if (!output.open(QIODevice::WriteOnly) || output.write(file.toBytes()) < 0 || !output.commit())
        return failure(context,
                       QStringLiteral("cannot write %1: %2").arg(fileName, output.errorString()));

    qsizetype keys = 0;
    for (const RegFileOperation &operation : file.operations())
        keys += operation.kind == RegFileOperation::Kind::CreateKey ? 1 : 0;
    const qsizetype values = file.operations().size() - keys;
    if (context.json) {
        context.out << QJsonDocument(QJsonObject{{QStringLiteral("key"), path.text()},
                                                 {QStringLiteral("file"), fileName},
                                                 {QStringLiteral("keys"), keys},
                                                 {QStringLiteral("values"), values}})
                               .toJson(QJsonDocument::Indented);
    } else {
        context.out << "Exported " << path.text() << " to " << fileName << " (" << keys
                    << (keys == 1 ? " key, " : " keys, ") << values
                    << (values == 1 ? " value)\n" : " values)\n");
    }
    return ExitSuccess;
}

int importFile(CommandContext &context, const QString &fileName)
{
    QFile input(fileName);
    if (!input.open(QIODevice::ReadOnly))
        return failure(context,
                       QStringLiteral("cannot read %1: %2").arg(fileName, input.errorString()));
    if (input.size() > largestImportFile)
        return failure(context,
                       QStringLiteral("%1 is too large for a registration file").arg(fileName));
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return failure(context,
                       QStringLiteral("cannot read %1: %2").arg(fileName, input.errorString()));

    platform::Registry &registry = platform::Machine::current().registry();
    RegFile file;
    RegFileError error;
    if (!file.read(bytes, &error) || !file.check(registry, &error))
        return failure(context, QStringLiteral("%1:%2: %3; nothing was changed")
                                        .arg(fileName)
                                        .arg(error.line)
                                        .arg(error.message));
    if (const QString reason = readOnlyReason(registry); !reason.isEmpty())
        return failure(context, QStringLiteral("cannot change the registry: %1").arg(reason));

    const RegFileOutcome outcome = file.apply(registry);
    if (outcome.status != RegistryStatus::Success) {
        return failure(context, QStringLiteral("%1:%2: %3; %4 of %5 changes were made before it")
                                        .arg(fileName)
                                        .arg(outcome.line)
                                        .arg(statusText(outcome.status))
                                        .arg(outcome.applied)
                                        .arg(file.operations().size()));
    }
    if (context.json) {
        context.out << QJsonDocument(QJsonObject{{QStringLiteral("file"), fileName},
                                                 {QStringLiteral("changes"), outcome.applied}})
                               .toJson(QJsonDocument::Indented);
    } else {
        context.out << "Imported " << fileName << " (" << outcome.applied
                    << (outcome.applied == 1 ? " change)\n" : " changes)\n");
    }
    return ExitSuccess;
}

// --- set and delete ---------------------------------------------------------------------------

int done(CommandContext &context, const QJsonObject &json, const QString &text)
{
    if (context.json)
        context.out << QJsonDocument(json).toJson(QJsonDocument::Indented);
    else
        context.out << text << '\n';
    return ExitSuccess;
}

int setValue(CommandContext &context, const RegistryPath &path, const QString &name,
             const QString &text)
{
    platform::Registry &registry = platform::Machine::current().registry();
    if (const QString reason = readOnlyReason(registry); !reason.isEmpty())
        return failure(context, QStringLiteral("cannot change the registry: %1").arg(reason));
    std::unique_ptr<platform::RegistryKey> created;
    const RegistryStatus status =
            registry.create(path.hive, path.subPath().toStdU16String(), created);
    if (status != RegistryStatus::Success)
        return failure(
                context,
                QStringLiteral("cannot make the key %1: %2").arg(path.text(), statusText(status)));
    RegistryKey key(path.text(), registry);
    if (!key.setValue(name, text) || !key.sync())
        return failure(context, QStringLiteral("cannot store %1 in %2: %3")
                                        .arg(name.isEmpty() ? QStringLiteral("(Default)") : name,
                                             path.text(), statusText(key.lastError())));
    return done(context,
                {{QStringLiteral("key"), path.text()},
                 {QStringLiteral("name"), name},
                 {QStringLiteral("stored"), text}},
                QStringLiteral("Stored %1 in %2")
                        .arg(name.isEmpty() ? QStringLiteral("(Default)") : name, path.text()));
}

int deleteValue(CommandContext &context, const RegistryPath &path, const QString &name)
{
    platform::Registry &registry = platform::Machine::current().registry();
    if (const QString reason = readOnlyReason(registry); !reason.isEmpty())
        return failure(context, QStringLiteral("cannot change the registry: %1").arg(reason));
    const QString shown = name.isEmpty() ? QStringLiteral("(Default)") : name;
    std::unique_ptr<platform::RegistryKey> key;
    RegistryStatus status = registry.open(path.hive, path.subPath().toStdU16String(), key);
    if (status == RegistryStatus::Success)
        status = key->deleteValue(name.toStdU16String());
    if (status == RegistryStatus::FileNotFound)
        return failure(context,
                       QStringLiteral("there is no value %1 in %2").arg(shown, path.text()));
    if (status != RegistryStatus::Success)
        return failure(context, QStringLiteral("cannot delete %1 in %2: %3")
                                        .arg(shown, path.text(), statusText(status)));
    return done(context,
                {{QStringLiteral("key"), path.text()}, {QStringLiteral("deletedValue"), name}},
                QStringLiteral("Deleted %1 in %2").arg(shown, path.text()));
}

int deleteKey(CommandContext &context, const RegistryPath &path)
{
    platform::Registry &registry = platform::Machine::current().registry();
    if (const QString reason = readOnlyReason(registry); !reason.isEmpty())
        return failure(context, QStringLiteral("cannot change the registry: %1").arg(reason));
    if (path.names.isEmpty())
        return failure(context, QStringLiteral("a root key cannot be deleted"));
    RegistryKey key(path.text(), registry);
    if (key.status() != RegistryKey::NoError)
        return failure(context, QStringLiteral("there is no key %1").arg(path.text()));
    if (!key.clear()) {
        return failure(context, QStringLiteral("cannot delete everything in %1: %2 (links, keys "
                                               "reached through them and Wow6432Node keys are "
                                               "never deleted)")
                                        .arg(path.text(), statusText(key.lastError())));
    }
    return done(context, {{QStringLiteral("deletedKey"), path.text()}},
                QStringLiteral("Deleted %1").arg(path.text()));
}

} // namespace

QString RegistryCommand::synopsis() const
{
    return QStringLiteral("query KEY [--recursive] | export KEY FILE | import FILE | "
                          "set KEY NAME TEXT | delete KEY [NAME]");
}

QList<QCommandLineOption> RegistryCommand::options() const
{
    return {QCommandLineOption(recursiveOption,
                               QStringLiteral("query: show every subkey's values as well."))};
}

int RegistryCommand::run(CommandContext &context) const
{
    const QStringList &arguments = context.arguments;
    if (arguments.isEmpty())
        return usageError(context, QStringLiteral("registry: no subcommand given"));
    const QString subcommand = arguments.first();
    const QStringList rest = arguments.mid(1);

    struct Form
    {
        QString name;
        qsizetype least;
        qsizetype most;
        bool hasKey;
    };
    const Form forms[] = {
            {QStringLiteral("query"), 1, 1, true},   {QStringLiteral("export"), 2, 2, true},
            {QStringLiteral("import"), 1, 1, false}, {QStringLiteral("set"), 3, 3, true},
            {QStringLiteral("delete"), 1, 2, true},
    };
    const Form *form = nullptr;
    for (const Form &candidate : forms) {
        if (candidate.name == subcommand)
            form = &candidate;
    }
    if (!form)
        return usageError(context,
                          QStringLiteral("registry: unknown subcommand '%1'").arg(subcommand));
    if (rest.size() < form->least || rest.size() > form->most)
        return usageError(context,
                          QStringLiteral("registry %1: wrong number of arguments").arg(subcommand));
    if (context.parser.isSet(recursiveOption) && form->name != QLatin1StringView("query"))
        return usageError(context, QStringLiteral("--recursive goes with query only"));

    RegistryPath path;
    if (form->hasKey) {
        QString problem;
        if (!parseKey(rest.first(), path, problem))
            return usageError(context, QStringLiteral("registry %1: %2").arg(subcommand, problem));
    }
    if (subcommand == QLatin1StringView("query"))
        return query(context, path);
    if (subcommand == QLatin1StringView("export"))
        return exportKey(context, path, rest.at(1));
    if (subcommand == QLatin1StringView("import"))
        return importFile(context, rest.first());
    if (subcommand == QLatin1StringView("set"))
        return setValue(context, path, rest.at(1), rest.at(2));
    if (rest.size() == 2)
        return deleteValue(context, path, rest.at(1));
    return deleteKey(context, path);
}
