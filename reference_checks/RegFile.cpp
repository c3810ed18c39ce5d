#include "reference_checks/RegFile.h"

#include <QStringDecoder>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using platform::RegistryStatus;
using Kind = RegFileOperation::Kind;

constexpr QLatin1StringView version5Header("Windows Registry Editor Version 5.00");
constexpr QLatin1StringView regedit4Header("REGEDIT4");

// Windows' limits: a key name and a value name in UTF-16 units, and how deep keys go.
constexpr qsizetype maximumKeyNameLength = 255;
constexpr qsizetype maximumValueNameLength = 16383;
constexpr qsizetype maximumDepth = 512;

// Hex data is wrapped as registry editors wrap it: after a comma, once the line is longer than
// this, the line ends with "\" and the next one starts with two blanks.
constexpr qsizetype wrapColumn = 76;

// Windows-1252 for the bytes 0x80 to 0x9f; the five it leaves undefined stand for themselves, as
// Windows converts them. The other bytes are their own code points.
constexpr std::array<char16_t, 32> windows1252High = {
        0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
        0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

QString decodeAnsi(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto unit = static_cast<unsigned char>(byte);
        text.append(QChar(unit >= 0x80 && unit < 0xa0 ? windows1252High[unit - 0x80]
                                                      : static_cast<char16_t>(unit)));
    }
    return text;
}

QString decodeFile(const QByteArray &bytes)
{
    const auto startsWith = [&](std::initializer_list<unsigned char> mark) {
        if (bytes.size() < static_cast<qsizetype>(mark.size()))
            return false;
        qsizetype i = 0;
        for (const unsigned char byte : mark) {
            if (static_cast<unsigned char>(bytes[i++]) != byte)
                return false;
        }
        return true;
    };
    if (startsWith({0xff, 0xfe}))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(QByteArrayView(bytes).sliced(2));
    if (startsWith({0xfe, 0xff}))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(QByteArrayView(bytes).sliced(2));
    if (startsWith({0xef, 0xbb, 0xbf}))
        return QString::fromUtf8(QByteArrayView(bytes).sliced(3));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeAnsi(bytes);
}

// Lines ended by CR LF, LF or CR.
QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar character = text.at(i);
        if (character != QLatin1Char('\n') && character != QLatin1Char('\r'))
            continue;
        lines.append(text.mid(start, i - start));
        if (character == QLatin1Char('\r') && i + 1 < text.size() &&
            text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

bool isBlank(QChar character)
{
    return character == QLatin1Char(' ') || character == QLatin1Char('\t');
}

QStringView trimmedRight(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

int hexDigit(QChar character)
{
    const char16_t unit = character.unicode();
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (unit >= u'a' && unit <= u'f')
        return unit - u'a' + 10;
    if (unit >= u'A' && unit <= u'F')
        return unit - u'A' + 10;
    return -1;
}

platform::RegistryValue unicodeValue(const QString &text, std::uint32_t type)
{
    platform::RegistryValue value;
    value.type = type;
    value.data.reserve(static_cast<std::size_t>(text.size()) * 2);
    for (const QChar character : text) {
        value.data.push_back(static_cast<std::uint8_t>(character.unicode() & 0xff));
        value.data.push_back(static_cast<std::uint8_t>(character.unicode() >> 8));
    }
    return value;
}

// Takes a file apart into operations; stops at the first error.
class Parser final
{
public:
    Parser(const QStringList &lines, RegFile::Format format)
        : m_lines(lines)
        , m_format(format)
    {}

    bool run(QList<RegFileOperation> &operations);
    const RegFileError &error() const { return m_error; }

private:
    bool fail(QString message)
    {
        m_error = {static_cast<int>(m_index + 1), std::move(message)};
        return false;
    }
    int lineNumber() const { return static_cast<int>(m_index + 1); }

    bool keyLine(QStringView text, QList<RegFileOperation> &operations);
    bool valueLine(QStringView text, QList<RegFileOperation> &operations);
    bool quoted(QStringView text, qsizetype &position, QString &result);
    bool endOfData(QStringView rest);
    bool hexBytes(QStringView text, std::vector<std::uint8_t> &bytes);

    const QStringList &m_lines;
    RegFile::Format m_format;
    qsizetype m_index = 0;
    RegFileError m_error;
    bool m_inKey = false;
    bool m_inDeletedKey = false;
    RegistryPath m_key;
};

bool Parser::run(QList<RegFileOperation> &operations)
{
    // The header was checked by the caller; the lines after it are read here.
    for (m_index = 1; m_index < m_lines.size(); ++m_index) {
        QStringView text(m_lines.at(m_index));
        while (!text.isEmpty() && isBlank(text.front()))
            text = text.sliced(1);
        if (text.isEmpty() || text.front() == QLatin1Char(';'))
            continue;
        bool ok = false;
        if (text.front() == QLatin1Char('['))
            ok = keyLine(text, operations);
        else if (text.front() == QLatin1Char('@') || text.front() == QLatin1Char('"'))
            ok = valueLine(text, operations);
        else
            ok = fail(QStringLiteral("this is neither a key line, a value line nor a comment"));
        if (!ok)
            return false;
    }
    return true;
}

bool Parser::keyLine(QStringView text, QList<RegFileOperation> &operations)
{
    text = trimmedRight(text);
    if (!text.endsWith(QLatin1Char(']')))
        return fail(QStringLiteral("a key line must end with \"]\""));
    QStringView inside = text.sliced(1, text.size() - 2);
    RegFileOperation operation;
    operation.kind = Kind::CreateKey;
    operation.line = lineNumber();
    if (inside.startsWith(QLatin1Char('-'))) {
        operation.kind = Kind::DeleteKey;
        inside = inside.sliced(1);
    }
    const QString path = inside.toString();
    const QString first = path.section(QLatin1Char('\\'), 0, 0, QString::SectionSkipEmpty);
    operation.key = parseRegistryPath(path);
    if (first.isEmpty())
        return fail(QStringLiteral("the key line names no key"));
    if (first.compare(registryHiveName(operation.key.hive), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("\"%1\" is not a root key: a key path begins with "
                                   "HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or "
                                   "HKEY_USERS")
                            .arg(first));
    if (operation.key.names.size() > maximumDepth)
        return fail(QStringLiteral("the key lies more than %1 levels deep").arg(maximumDepth));
    for (const QString &name : std::as_const(operation.key.names)) {
        if (name.size() > maximumKeyNameLength)
            return fail(QStringLiteral("the key name \"%1...\" is longer than %2 characters")
                                .arg(name.left(32))
                                .arg(maximumKeyNameLength));
    }
    if (operation.kind == Kind::DeleteKey && operation.key.names.isEmpty())
        return fail(QStringLiteral("a root key cannot be deleted"));
    m_inKey = true;
    m_inDeletedKey = operation.kind == Kind::DeleteKey;
    m_key = operation.key;
    operations.append(std::move(operation));
    return true;
}

bool Parser::quoted(QStringView text, qsizetype &position, QString &result)
{
    result.clear();
    while (position < text.size()) {
        const QChar character = text.at(position++);
        if (character == QLatin1Char('"'))
            return true;
        if (character != QLatin1Char('\\')) {
            result.append(character);
            continue;
        }
        if (position == text.size())
            break;
        const QChar escaped = text.at(position++);
        switch (escaped.unicode()) {
        case u'\\':
        case u'"':
            result.append(escaped);
            break;
        case u'n':
            result.append(QLatin1Char('\n'));
            break;
        case u'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            return fail(QStringLiteral("unknown escape sequence \"\\%1\" (a backslash is written "
                                       "\"\\\\\")")
                                .arg(escaped));
        }
    }
    return fail(QStringLiteral("the text has no closing quote"));
}

// What may follow a value's data on its line: blanks and a comment.
bool Parser::endOfData(QStringView rest)
{
    rest = rest.trimmed();
    if (rest.isEmpty() || rest.front() == QLatin1Char(';'))
        return true;
    return fail(QStringLiteral("unexpected \"%1\" after the value's data").arg(rest));
}

bool Parser::hexBytes(QStringView text, std::vector<std::uint8_t> &bytes)
{
    qsizetype position = 0;
    bool afterByte = false;
    while (true) {
        while (position < text.size() && isBlank(text.at(position)))
            ++position;
        if (position == text.size() || text.at(position) == QLatin1Char(';'))
            return true;
        const QChar character = text.at(position);
        if (character == QLatin1Char('\\')) {
            if (!trimmedRight(text.sliced(position + 1)).isEmpty())
                return fail(QStringLiteral("a continued line must end with \"\\\""));
            if (m_index + 1 >= m_lines.size())
                return fail(QStringLiteral("the value goes on past the end of the file"));
            ++m_index;
            text = QStringView(m_lines.at(m_index));
            position = 0;
            continue;
        }
        if (afterByte) {
            if (character != QLatin1Char(','))
                return fail(QStringLiteral("expected \",\" between bytes, found \"%1\"")
                                    .arg(character));
            ++position;
            afterByte = false;
            continue;
        }
        int value = 0;
        qsizetype digits = 0;
        while (digits < 2 && position < text.size() && hexDigit(text.at(position)) >= 0) {
            value = value * 16 + hexDigit(text.at(position));
            ++position;
            ++digits;
        }
        if (digits == 0 || (position < text.size() && hexDigit(text.at(position)) >= 0))
            return fail(QStringLiteral("expected a byte of two hexadecimal digits"));
        bytes.push_back(static_cast<std::uint8_t>(value));
        afterByte = true;
    }
}

bool Parser::valueLine(QStringView text, QList<RegFileOperation> &operations)
{
    if (!m_inKey)
        return fail(QStringLiteral("a value line must follow a key line"));
    if (m_inDeletedKey)
        return fail(QStringLiteral("a deleted key cannot have values"));
    RegFileOperation operation;
    operation.key = m_key;
    operation.line = lineNumber();
    qsizetype position = 1;
    if (text.front() == QLatin1Char('"') && !quoted(text, position, operation.name))
        return false;
    if (operation.name.size() > maximumValueNameLength)
        return fail(QStringLiteral("the value name is longer than %1 characters")
                            .arg(maximumValueNameLength));
    while (position < text.size() && isBlank(text.at(position)))
        ++position;
    if (position == text.size() || text.at(position) != QLatin1Char('='))
        return fail(QStringLiteral("expected \"=\" after the value name"));
    ++position;
    while (position < text.size() && isBlank(text.at(position)))
        ++position;
    const QStringView data = text.sliced(position);

    if (data.startsWith(QLatin1Char('-'))) {
        operation.kind = Kind::DeleteValue;
        if (!endOfData(data.sliced(1)))
            return false;
    } else if (data.startsWith(QLatin1Char('"'))) {
        operation.kind = Kind::SetValue;
        QString string;
        qsizetype end = 1;
        if (!quoted(data, end, string) || !endOfData(data.sliced(end)))
            return false;
        operation.value = unicodeValue(string + QChar(u'\0'), platform::RegSz);
    } else if (data.startsWith(QLatin1StringView("dword:"), Qt::CaseInsensitive)) {
        operation.kind = Kind::SetValue;
        qsizetype at = 6;
        while (at < data.size() && isBlank(data.at(at)))
            ++at;
        std::uint32_t number = 0;
        qsizetype digits = 0;
        for (; at < data.size() && hexDigit(data.at(at)) >= 0; ++at, ++digits)
            number = number * 16 + static_cast<std::uint32_t>(hexDigit(data.at(at)));
        if (digits == 0 || digits > 8)
            return fail(QStringLiteral("dword: needs one to eight hexadecimal digits"));
        if (!endOfData(data.sliced(at)))
            return false;
        operation.value.type = platform::RegDword;
        for (int shift = 0; shift < 32; shift += 8)
            operation.value.data.push_back(static_cast<std::uint8_t>(number >> shift));
    } else if (data.startsWith(QLatin1StringView("hex"), Qt::CaseInsensitive)) {
        operation.kind = Kind::SetValue;
        qsizetype at = 3;
        std::uint32_t type = platform::RegBinary;
        if (at < data.size() && data.at(at) == QLatin1Char('(')) {
            ++at;
            type = 0;
            qsizetype digits = 0;
            for (; at < data.size() && hexDigit(data.at(at)) >= 0; ++at, ++digits)
                type = type * 16 + static_cast<std::uint32_t>(hexDigit(data.at(at)));
            if (digits == 0 || digits > 8 || at == data.size() || data.at(at) != QLatin1Char(')'))
                return fail(QStringLiteral("hex(N): needs a type of one to eight hexadecimal "
                                           "digits"));
            ++at;
        }
        if (at == data.size() || data.at(at) != QLatin1Char(':'))
            return fail(QStringLiteral("expected \":\" after \"hex\""));
        operation.value.type = type;
        if (!hexBytes(data.sliced(at + 1), operation.value.data))
            return false;
        // The old format holds string data as ANSI bytes; the registry keeps UTF-16.
        if (m_format == RegFile::Format::Regedit4 &&
            (type == platform::RegSz || type == platform::RegExpandSz ||
             type == platform::RegMultiSz)) {
            const std::vector<std::uint8_t> &bytes = operation.value.data;
            const QString text =
                    decodeAnsi(QByteArrayView(reinterpret_cast<const char *>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size())));
            operation.value = unicodeValue(text, type);
        }
    } else {
        return fail(QStringLiteral("unknown value data \"%1\": expected a quoted text, dword:, "
                                   "hex:, hex(N): or -")
                            .arg(data.left(20)));
    }
    operations.append(std::move(operation));
    return true;
}

// Registration file text: what can stand between quotes, and the hex form of any data.
QString escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        switch (character.unicode()) {
        case u'\\':
            result += QLatin1StringView("\\\\");
            break;
        case u'"':
            result += QLatin1StringView("\\\"");
            break;
        case u'\n':
            result += QLatin1StringView("\\n");
            break;
        case u'\r':
            result += QLatin1StringView("\\r");
            break;
        default:
            result += character;
        }
    }
    return result;
}

// The text of a REG_SZ that can be written between quotes and read back the same everywhere:
// one terminating NUL and no other, and no control characters. False for any other value.
bool plainString(const platform::RegistryValue &value, QString &text)
{
    const std::vector<std::uint8_t> &data = value.data;
    if (value.type != platform::RegSz || data.size() < 2 || data.size() % 2 != 0)
        return false;
    text.clear();
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit < 0x20)
            return false;
        text.append(QChar(unit));
    }
    return data[data.size() - 2] == 0 && data[data.size() - 1] == 0;
}

QString valueLineText(const RegFileOperation &operation)
{
    QString line = operation.name.isEmpty()
                           ? QStringLiteral("@=")
                           : QLatin1Char('"') + escaped(operation.name) + QStringLiteral("\"=");
    if (operation.kind == Kind::DeleteValue)
        return line + QLatin1Char('-');
    const platform::RegistryValue &value = operation.value;
    QString text;
    if (plainString(value, text))
        return line + QLatin1Char('"') + escaped(text) + QLatin1Char('"');
    if (value.type == platform::RegDword && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = number << 8 | value.data[static_cast<std::size_t>(i)];
        return line + QStringLiteral("dword:%1").arg(number, 8, 16, QLatin1Char('0'));
    }
    line += value.type == platform::RegBinary ? QStringLiteral("hex:")
                                              : QStringLiteral("hex(%1):").arg(value.type, 0, 16);
    qsizetype column = line.size();
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        line += QStringLiteral("%1").arg(uint{value.data[i]}, 2, 16, QLatin1Char('0'));
        column += 2;
        if (i + 1 == value.data.size())
            break;
        line += QLatin1Char(',');
        ++column;
        if (column > wrapColumn) {
            line += QStringLiteral("\\\r\n  ");
            column = 2;
        }
    }
    return line;
}

void appendKey(const platform::RegistryKey &key, const RegistryPath &path,
               QList<RegFileOperation> &operations)
{
    operations.append({Kind::CreateKey, path, {}, {}, 0});
    std::u16string name;
    platform::RegistryValue value;
    for (std::uint32_t index = 0; key.valueAt(index, name, &value) == RegistryStatus::Success;
         ++index)
        operations.append({Kind::SetValue, path, QString::fromStdU16String(name), value, 0});
    if (path.names.size() >= maximumDepth)
        return;
    std::vector<std::u16string> subkeys;
    for (std::uint32_t index = 0; key.subkeyName(index, name) == RegistryStatus::Success; ++index)
        subkeys.push_back(name);
    for (const std::u16string &subkeyName : subkeys) {
        std::unique_ptr<platform::RegistryKey> subkey;
        if (key.open(subkeyName, subkey) != RegistryStatus::Success)
            continue;
        RegistryPath subkeyPath = path;
        subkeyPath.names.append(QString::fromStdU16String(subkeyName));
        appendKey(*subkey, subkeyPath, operations);
    }
}

} // namespace

bool RegFile::read(const QByteArray &bytes, RegFileError *error)
{
    m_operations.clear();
    const QStringList lines = splitLines(decodeFile(bytes));
    const QStringView header = lines.isEmpty() ? QStringView() : trimmedRight(lines.first());
    if (header == version5Header) {
        m_format = Format::Version5;
    } else if (header == regedit4Header) {
        m_format = Format::Regedit4;
    } else {
        if (error)
            *error = {1, QStringLiteral("not a registration file: the first line must be \"%1\" "
                                        "or \"%2\"")
                                 .arg(version5Header, regedit4Header)};
        return false;
    }
    Parser parser(lines, m_format);
    QList<RegFileOperation> operations;
    if (!parser.run(operations)) {
        if (error)
            *error = parser.error();
        return false;
    }
    m_operations = std::move(operations);
    return true;
}

bool RegFile::check(const platform::Registry &registry, RegFileError *error) const
{
    for (const RegFileOperation &operation : m_operations) {
        if (operation.key.hive != platform::RegistryHive::Users)
            continue;
        QString problem;
        if (operation.key.names.isEmpty()) {
            if (operation.kind == Kind::SetValue || operation.kind == Kind::DeleteValue)
                problem = QStringLiteral("HKEY_USERS itself holds no values");
        } else if (operation.kind == Kind::DeleteKey && operation.key.names.size() == 1) {
            problem = QStringLiteral("a user's branch of HKEY_USERS cannot be deleted");
        } else {
            std::unique_ptr<platform::RegistryKey> user;
            const QString &name = operation.key.names.constFirst();
            if (registry.open(platform::RegistryHive::Users, name.toStdU16String(), user) !=
                RegistryStatus::Success)
                problem = QStringLiteral("there is no user \"%1\" under HKEY_USERS, and none can "
                                         "be made")
                                  .arg(name);
        }
        if (!problem.isEmpty()) {
            if (error)
                *error = {operation.line, problem};
            return false;
        }
    }
    return true;
}

RegFileOutcome RegFile::apply(platform::Registry &registry) const
{
    RegFileOutcome outcome;
    if (!registry.writability().writable()) {
        outcome.status = RegistryStatus::AccessDenied;
        return outcome;
    }
    // The key the last key line made, kept open for the value lines after it.
    std::unique_ptr<platform::RegistryKey> current;
    RegistryPath currentPath;
    for (const RegFileOperation &operation : m_operations) {
        const std::u16string subPath = operation.key.subPath().toStdU16String();
        const std::u16string name = operation.name.toStdU16String();
        RegistryStatus status = RegistryStatus::Success;
        switch (operation.kind) {
        case Kind::CreateKey:
            current.reset();
            status = registry.create(operation.key.hive, subPath, current);
            currentPath = operation.key;
            break;
        case Kind::SetValue:
            if (!current || !(currentPath == operation.key)) {
                current.reset();
                status = registry.create(operation.key.hive, subPath, current);
                currentPath = operation.key;
            }
            if (status == RegistryStatus::Success)
                status = current->setValue(name, operation.value);
            break;
        case Kind::DeleteValue: {
            std::unique_ptr<platform::RegistryKey> key;
            status = registry.open(operation.key.hive, subPath, key);
            if (status == RegistryStatus::Success)
                status = key->deleteValue(name);
            if (status == RegistryStatus::FileNotFound)
                status = RegistryStatus::Success;
            break;
        }
        case Kind::DeleteKey: {
            current.reset();
            std::unique_ptr<platform::RegistryKey> key;
            status = registry.open(operation.key.hive, subPath, key);
            if (status == RegistryStatus::Success)
                status = deleteRegistryTree(*key);
            else if (status == RegistryStatus::FileNotFound)
                status = RegistryStatus::Success;
            break;
        }
        }
        if (status != RegistryStatus::Success) {
            outcome.status = status;
            outcome.line = operation.line;
            return outcome;
        }
        ++outcome.applied;
    }
    return outcome;
}

platform::RegistryStatus RegFile::readKey(const platform::Registry &registry,
                                          const RegistryPath &path)
{
    m_operations.clear();
    m_format = Format::Version5;
    std::unique_ptr<platform::RegistryKey> key;
    const RegistryStatus status = registry.open(path.hive, path.subPath().toStdU16String(), key);
    if (status != RegistryStatus::Success)
        return status;
    appendKey(*key, path, m_operations);
    return RegistryStatus::Success;
}

QByteArray RegFile::toBytes() const
{
    QString text = version5Header + QStringLiteral("\r\n");
    bool inBlock = false;
    RegistryPath blockKey;
    const auto startBlock = [&](const QString &line) {
        text += QStringLiteral("\r\n") + line + QStringLiteral("\r\n");
        inBlock = true;
    };
    for (const RegFileOperation &operation : m_operations) {
        switch (operation.kind) {
        case Kind::CreateKey:
            startBlock(QLatin1Char('[') + operation.key.text() + QLatin1Char(']'));
            blockKey = operation.key;
            break;
        case Kind::DeleteKey:
            startBlock(QStringLiteral("[-") + operation.key.text() + QLatin1Char(']'));
            inBlock = false;
            break;
        case Kind::SetValue:
        case Kind::DeleteValue:
            if (!inBlock || !(blockKey == operation.key)) {
                startBlock(QLatin1Char('[') + operation.key.text() + QLatin1Char(']'));
                blockKey = operation.key;
            }
            text += valueLineText(operation) + QStringLiteral("\r\n");
            break;
        }
    }
    text += QStringLiteral("\r\n");

    QByteArray bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.append('\xff').append('\xfe');
    for (const QChar character : std::as_const(text)) {
        bytes.append(static_cast<char>(character.unicode() & 0xff));
        bytes.append(static_cast<char>(character.unicode() >> 8));
    }
    return bytes;
}
