#include "WineRegistryFile.h"

#include "WineRegistryText.h"

#include <platform/Text.h>

#include <algorithm>
#include <functional>

namespace platform {

namespace {

using namespace wineregistry;

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view headerLine = "WINE REGISTRY Version 2";
constexpr std::string_view rootCommentStart = ";; All keys relative to ";
constexpr std::u16string_view linkValueName = u"SymbolicLinkValue";

bool isBlankCharacter(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Position of the first character that is not blank; npos for a blank line.
std::size_t firstNonBlank(std::string_view line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!isBlankCharacter(line[i]))
            return i;
    }
    return npos;
}

std::string_view withoutCarriageReturn(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Walks the physical lines of a text: line is without its "\n", next is where the following line
// starts.
struct LineCursor
{
    explicit LineCursor(std::string_view text)
        : text(text)
    {}

    std::string_view text;
    std::size_t position = 0;
    std::string_view line;
    std::size_t next = 0;

    bool advance()
    {
        position = next;
        if (position >= text.size())
            return false;
        std::size_t end = text.find('\n', position);
        if (end == npos) {
            line = text.substr(position);
            next = text.size();
        } else {
            line = text.substr(position, end - position);
            next = end + 1;
        }
        return true;
    }
};

// The end of a value line that starts at cursor.position: hex data continues over the lines that
// follow as long as each ends in a backslash, but never into a key line.
std::size_t valueLineEnd(const LineCursor &cursor)
{
    std::size_t end = cursor.next;
    if (!valueLineContinues(cursor.line))
        return end;
    const std::string_view text = cursor.text;
    while (end < text.size()) {
        std::size_t lineEnd = text.find('\n', end);
        if (lineEnd == npos)
            lineEnd = text.size();
        const std::string_view line = text.substr(end, lineEnd - end);
        const std::size_t first = firstNonBlank(line);
        if (first != npos && line[first] == '[')
            break;
        end = lineEnd < text.size() ? lineEnd + 1 : lineEnd;
        if (!continuationLineContinues(line))
            break;
    }
    return end;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Reads "#time=" hex digits up to the first other character.
FileTime readTimeOption(std::string_view option)
{
    FileTime time = 0;
    for (std::size_t i = 6; i < option.size(); ++i) {
        const char c = option[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        time = time * 16 + static_cast<FileTime>(digit);
    }
    return time;
}

bool namedBefore(const std::u16string &a, std::u16string_view b)
{
    return compareIgnoreCase(a, b) < 0;
}

template<typename Entries, typename NameOf>
auto lowerBoundByName(Entries &entries, std::u16string_view name, NameOf nameOf)
{
    return std::lower_bound(entries.begin(), entries.end(), name,
                            [&](const auto &entry, std::u16string_view wanted) {
                                return namedBefore(nameOf(entry), wanted);
                            });
}

const std::u16string &valueName(const WineRegistryFile::Value &value)
{
    return value.name;
}

const std::u16string &subkeyName(const std::unique_ptr<WineRegistryFile::Key> &key)
{
    return key->name;
}

bool inside(const char *pointer, std::string_view text)
{
    const std::less<const char *> before;
    return !before(pointer, text.data()) && before(pointer, text.data() + text.size());
}

template<typename Pointer>
bool sortedContains(const std::vector<Pointer> &sorted, Pointer pointer)
{
    return std::binary_search(sorted.begin(), sorted.end(), pointer, std::less<Pointer>());
}

} // namespace

WineRegistryFile::WineRegistryFile()
    : m_root(std::make_unique<Key>())
{}

void WineRegistryFile::clear()
{
    m_buffer.clear();
    m_header = {};
    m_ownHeader.clear();
    m_arch.clear();
    m_root = std::make_unique<Key>();
    m_blocks.clear();
    m_firstBlock = nullptr;
    m_lastBlock = nullptr;
    m_changedKeys.clear();
    m_keyCount = 1;
    m_rejected = false;
    m_previousPath.clear();
    m_previousKeys.clear();
}

bool WineRegistryFile::load(std::string text, FileTime now)
{
    clear();
    m_buffer = std::move(text);
    const std::string_view all = m_buffer;

    LineCursor cursor{all};
    if (!cursor.advance() || withoutCarriageReturn(cursor.line) != headerLine) {
        clear();
        m_rejected = true;
        return false;
    }

    // A block starts after the last line that was not blank, so the empty lines before a key
    // line go with that key.
    std::size_t contentEnd = cursor.next;
    Block *current = nullptr;
    std::size_t currentStart = 0;
    std::vector<Key *> createdKeys;
    while (cursor.advance()) {
        const std::size_t first = firstNonBlank(cursor.line);
        if (first == npos)
            continue;
        const std::string_view content = cursor.line.substr(first);
        if (content.front() == '[') {
            if (current)
                current->text = all.substr(currentStart, contentEnd - currentStart);
            else
                m_header = all.substr(0, contentEnd);
            current = appendBlock();
            currentStart = contentEnd;
            createdKeys.clear();
            current->key = readKeyLine(content, now, createdKeys);
            if (Key *key = current->key) {
                if (key->lastBlock)
                    key->lastBlock->nextOfKey = current;
                else
                    key->firstBlock = current;
                key->lastBlock = current;
            }
        } else if (content.front() == '#') {
            const std::string_view option = withoutCarriageReturn(content);
            if (!current) {
                if (startsWith(option, "#arch=")) {
                    std::string_view arch = option.substr(6);
                    while (!arch.empty() && isBlankCharacter(arch.back()))
                        arch.remove_suffix(1);
                    if (arch != "win32" && arch != "win64") {
                        clear();
                        m_rejected = true;
                        return false;
                    }
                    m_arch = arch;
                }
            } else if (Key *key = current->key) {
                if (startsWith(option, "#time=")) {
                    key->time = readTimeOption(option);
                    for (Key *created : createdKeys)
                        created->time = key->time;
                } else if (startsWith(option, "#link")) {
                    key->link = true;
                }
            }
        }
        contentEnd = cursor.next;
    }
    if (current)
        current->text = all.substr(currentStart);
    else
        m_header = all;
    m_previousPath.clear();
    m_previousKeys.clear();
    return true;
}

void WineRegistryFile::makeEmpty(std::u16string_view rootName, std::string_view arch)
{
    clear();
    m_ownHeader = std::string(headerLine) + "\n" + std::string(rootCommentStart);
    appendEscaped(m_ownHeader, rootName, Quoting::KeyPath);
    m_ownHeader += "\n\n#arch=";
    m_ownHeader += arch;
    m_ownHeader += "\n";
    m_header = m_ownHeader;
    m_arch = arch;
}

std::u16string WineRegistryFile::rootName() const
{
    LineCursor cursor{m_header};
    while (cursor.advance()) {
        const std::string_view line = withoutCarriageReturn(cursor.line);
        if (!startsWith(line, rootCommentStart))
            continue;
        // The name runs to the end of the line; a line end stands in for a closing quote.
        std::string text(line.substr(rootCommentStart.size()));
        text.push_back('\n');
        std::u16string name;
        std::size_t position = 0;
        decodeEscaped(text, position, '\n', name);
        return name;
    }
    return {};
}

WineRegistryFile::Block *WineRegistryFile::appendBlock()
{
    Block &block = m_blocks.emplace_back();
    insertBlockAfter(m_lastBlock, &block);
    return &block;
}

WineRegistryFile::Key *WineRegistryFile::readKeyLine(std::string_view line, FileTime now,
                                                     std::vector<Key *> &createdKeys)
{
    std::u16string path;
    std::size_t position = 1;
    if (!decodeEscaped(line, position, ']', path))
        return nullptr;
    FileTime time = now;
    while (position < line.size() && line[position] == ' ')
        ++position;
    if (position < line.size() && line[position] >= '0' && line[position] <= '9') {
        std::uint64_t seconds = 0;
        while (position < line.size() && line[position] >= '0' && line[position] <= '9' &&
               seconds < 0xffffffffULL)
            seconds = seconds * 10 + static_cast<std::uint64_t>(line[position++] - '0');
        time = fileTimeUnixEpoch + seconds * fileTimeTicksPerSecond;
    }

    // Every backslash separates names, whether written as "\\" or as a numeric escape.
    std::vector<std::u16string_view> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        if (end > start)
            names.push_back(std::u16string_view(path).substr(start, end - start));
        start = end + 1;
    }
    if (names.size() > maximumDepth)
        return nullptr;

    Key *key = m_root.get();
    bool sameAsBefore = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (sameAsBefore && i < m_previousPath.size() && m_previousPath[i] == names[i]) {
            key = m_previousKeys[i];
            continue;
        }
        sameAsBefore = false;
        bool created = false;
        key = &findOrAddSubkey(*key, names[i], time, created);
        if (created && i + 1 < names.size())
            createdKeys.push_back(key);
        if (i < m_previousPath.size()) {
            m_previousPath[i].assign(names[i]);
            m_previousKeys[i] = key;
        } else {
            m_previousPath.emplace_back(names[i]);
            m_previousKeys.push_back(key);
        }
    }
    m_previousPath.resize(names.size());
    m_previousKeys.resize(names.size());
    key->time = time;
    return key;
}

WineRegistryFile::Key &WineRegistryFile::findOrAddSubkey(Key &key, std::u16string_view name,
                                                         FileTime time, bool &created)
{
    auto &subkeys = key.subkeys;
    auto position = subkeys.end();
    // Wine writes subkeys in order, so a new one mostly goes last.
    if (!subkeys.empty() && !namedBefore(subkeys.back()->name, name)) {
        position = lowerBoundByName(subkeys, name, subkeyName);
        if (position != subkeys.end() && equalsIgnoreCase((*position)->name, name)) {
            created = false;
            return **position;
        }
    }
    auto subkey = std::make_unique<Key>();
    subkey->name.assign(name);
    subkey->parent = &key;
    subkey->time = time;
    created = true;
    ++m_keyCount;
    return **subkeys.insert(position, std::move(subkey));
}

WineRegistryFile::Key *WineRegistryFile::subkey(const Key &key, std::u16string_view name)
{
    const auto &subkeys = key.subkeys;
    const auto position = lowerBoundByName(subkeys, name, subkeyName);
    if (position == subkeys.end() || !equalsIgnoreCase((*position)->name, name))
        return nullptr;
    return position->get();
}

void WineRegistryFile::readValues(Key &key)
{
    if (key.valuesRead)
        return;
    key.valuesRead = true;
    for (const Block *block = key.firstBlock; block; block = block->nextOfKey)
        readBlockValues(key, *block);
}

void WineRegistryFile::readBlockValues(Key &key, const Block &block)
{
    LineCursor cursor{block.text};
    bool keyLineSeen = false;
    std::u16string name;
    RegistryValue value;
    while (cursor.advance()) {
        const std::size_t first = firstNonBlank(cursor.line);
        if (first == npos)
            continue;
        const char c = cursor.line[first];
        if (!keyLineSeen) {
            keyLineSeen = c == '[';
            continue;
        }
        if (c != '@' && c != '"')
            continue;
        const std::size_t end = valueLineEnd(cursor);
        const std::string_view text = cursor.text.substr(cursor.position, end - cursor.position);
        const char *origin = text.data();
        switch (decodeValueLine(text, name, value)) {
        case ValueLine::Value:
            addReadValue(key, std::move(name), std::move(value), origin);
            break;
        case ValueLine::BadData:
            addUnreadableLine(key, std::move(name), origin);
            break;
        case ValueLine::Malformed:
            break;
        }
        name.clear();
        value = RegistryValue();
        cursor.next = end;
    }
}

void WineRegistryFile::addReadValue(Key &key, std::u16string &&name, RegistryValue &&value,
                                    const char *origin)
{
    dropUnreadableLines(key, name);
    auto &values = key.values;
    auto position = values.end();
    if (!values.empty() && !namedBefore(values.back().name, name)) {
        position = lowerBoundByName(values, name, valueName);
        if (position != values.end() && equalsIgnoreCase(position->name, name)) {
            // A later line of the same name wins, as when Wine loads the file.
            key.droppedLines.push_back(position->origin);
            position->value = std::move(value);
            position->origin = origin;
            return;
        }
    }
    Value entry;
    entry.name = std::move(name);
    entry.value = std::move(value);
    entry.origin = origin;
    values.insert(position, std::move(entry));
}

void WineRegistryFile::addUnreadableLine(Key &key, std::u16string &&name, const char *origin)
{
    // Wine reads such a line as an empty value that replaces an earlier one of the same name.
    auto &values = key.values;
    const auto position = lowerBoundByName(values, name, valueName);
    if (position != values.end() && equalsIgnoreCase(position->name, name)) {
        key.droppedLines.push_back(position->origin);
        values.erase(position);
    }
    dropUnreadableLines(key, name);
    key.unreadableLines.push_back({std::move(name), origin});
}

void WineRegistryFile::dropUnreadableLines(Key &key, std::u16string_view name)
{
    auto &lines = key.unreadableLines;
    for (auto line = lines.begin(); line != lines.end();) {
        if (equalsIgnoreCase(line->name, name)) {
            key.droppedLines.push_back(line->origin);
            line = lines.erase(line);
        } else {
            ++line;
        }
    }
}

const std::vector<WineRegistryFile::Value> &WineRegistryFile::values(Key &key)
{
    readValues(key);
    return key.values;
}

const WineRegistryFile::Value *WineRegistryFile::findValue(Key &key, std::u16string_view name)
{
    readValues(key);
    const auto position = lowerBoundByName(key.values, name, valueName);
    if (position == key.values.end() || !equalsIgnoreCase(position->name, name))
        return nullptr;
    return &*position;
}

std::u16string WineRegistryFile::linkTarget(Key &key)
{
    const Value *value = findValue(key, linkValueName);
    if (!value || value->value.type != RegLink)
        return {};
    const auto &data = value->value.data;
    std::u16string target;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        target.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    while (!target.empty() && target.back() == u'\0')
        target.pop_back();
    return target;
}

void WineRegistryFile::setValue(Key &key, std::u16string_view name, const RegistryValue &value,
                                FileTime now)
{
    readValues(key);
    // A line of that name that could not be read is replaced where it stands.
    const char *unreadableOrigin = nullptr;
    for (auto line = key.unreadableLines.begin(); line != key.unreadableLines.end();) {
        if (!equalsIgnoreCase(line->name, name)) {
            ++line;
            continue;
        }
        if (unreadableOrigin)
            key.droppedLines.push_back(unreadableOrigin);
        unreadableOrigin = line->origin;
        line = key.unreadableLines.erase(line);
    }
    auto &values = key.values;
    const auto position = lowerBoundByName(values, name, valueName);
    if (position != values.end() && equalsIgnoreCase(position->name, name)) {
        // The value keeps the spelling it had, as on Windows.
        position->value = value;
        position->changed = true;
    } else {
        Value entry;
        entry.name.assign(name);
        entry.value = value;
        entry.origin = unreadableOrigin;
        entry.changed = true;
        values.insert(position, std::move(entry));
    }
    touch(key, now);
}

bool WineRegistryFile::deleteValue(Key &key, std::u16string_view name, FileTime now)
{
    readValues(key);
    auto &values = key.values;
    const auto position = lowerBoundByName(values, name, valueName);
    if (position == values.end() || !equalsIgnoreCase(position->name, name))
        return false;
    if (position->origin)
        key.droppedLines.push_back(position->origin);
    values.erase(position);
    dropUnreadableLines(key, name);
    touch(key, now);
    return true;
}

WineRegistryFile::Key &WineRegistryFile::createSubkey(Key &key, std::u16string_view name,
                                                      FileTime now)
{
    bool created = false;
    Key &subkey = findOrAddSubkey(key, name, now, created);
    if (created) {
        touch(subkey, now);
        touch(key, now);
    }
    return subkey;
}

void WineRegistryFile::deleteSubkey(Key &key, Key &subkey, FileTime now)
{
    for (Block *block = subkey.firstBlock; block;) {
        Block *next = block->nextOfKey;
        unlinkBlock(block);
        block = next;
    }
    if (subkey.changed)
        std::erase(m_changedKeys, &subkey);
    auto &subkeys = key.subkeys;
    const auto position = std::find_if(subkeys.begin(), subkeys.end(),
                                       [&](const auto &entry) { return entry.get() == &subkey; });
    if (position != subkeys.end()) {
        subkeys.erase(position);
        --m_keyCount;
    }
    touch(key, now);
}

void WineRegistryFile::touch(Key &key, FileTime now)
{
    key.time = now;
    if (!key.changed) {
        key.changed = true;
        m_changedKeys.push_back(&key);
    }
    updateBlocks(key);
}

bool WineRegistryFile::needsBlock(Key &key)
{
    // What Wine writes: keys with values, keys without subkeys and links. Other keys are implied
    // by the paths of their subkeys.
    readValues(key);
    return !key.values.empty() || !key.unreadableLines.empty() || key.subkeys.empty() || key.link;
}

void WineRegistryFile::updateBlocks(Key &key)
{
    if (needsBlock(key)) {
        if (key.firstBlock)
            return;
        Block &block = m_blocks.emplace_back();
        block.key = &key;
        block.ownText = "\n[" + keyPathText(key) + "]\n";
        block.text = block.ownText;
        key.firstBlock = &block;
        key.lastBlock = &block;
        insertBlockAfter(blockBefore(key), &block);
        return;
    }
    // A block that says more than the key line, its time and values now gone (comments, unknown
    // options) stays.
    for (const Block *block = key.firstBlock; block; block = block->nextOfKey) {
        LineCursor cursor{block->text};
        bool keyLineSeen = false;
        while (cursor.advance()) {
            const std::size_t first = firstNonBlank(cursor.line);
            if (first == npos)
                continue;
            const std::string_view content = cursor.line.substr(first);
            if (!keyLineSeen && content.front() == '[') {
                keyLineSeen = true;
                continue;
            }
            const char *origin = cursor.text.data() + cursor.position;
            if (std::find(key.droppedLines.begin(), key.droppedLines.end(), origin) !=
                key.droppedLines.end()) {
                cursor.next = valueLineEnd(cursor);
                continue;
            }
            if (!startsWith(content, "#time="))
                return;
        }
    }
    for (Block *block = key.firstBlock; block;) {
        Block *next = block->nextOfKey;
        unlinkBlock(block);
        block = next;
    }
    key.firstBlock = nullptr;
    key.lastBlock = nullptr;
}

WineRegistryFile::Block *WineRegistryFile::lastBlockInSubtree(const Key &key)
{
    for (auto subkey = key.subkeys.rbegin(); subkey != key.subkeys.rend(); ++subkey) {
        if (Block *block = lastBlockInSubtree(**subkey))
            return block;
    }
    return key.lastBlock;
}

// The block after which a key's new block goes: the file lists keys depth first, each key's
// subkeys in order.
WineRegistryFile::Block *WineRegistryFile::blockBefore(const Key &key) const
{
    for (const Key *current = &key; current->parent; current = current->parent) {
        const Key &parent = *current->parent;
        auto position = std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                                     [&](const auto &entry) { return entry.get() == current; });
        while (position != parent.subkeys.begin()) {
            --position;
            if (Block *block = lastBlockInSubtree(**position))
                return block;
        }
        if (parent.lastBlock)
            return parent.lastBlock;
    }
    return nullptr;
}

void WineRegistryFile::insertBlockAfter(Block *previous, Block *block)
{
    block->previous = previous;
    block->next = previous ? previous->next : m_firstBlock;
    if (block->next)
        block->next->previous = block;
    else
        m_lastBlock = block;
    if (previous)
        previous->next = block;
    else
        m_firstBlock = block;
}

void WineRegistryFile::unlinkBlock(Block *block)
{
    if (block->previous)
        block->previous->next = block->next;
    else
        m_firstBlock = block->next;
    if (block->next)
        block->next->previous = block->previous;
    else
        m_lastBlock = block->previous;
    block->previous = nullptr;
    block->next = nullptr;
    block->nextOfKey = nullptr;
    block->text = {};
    std::string().swap(block->ownText);
}

std::string WineRegistryFile::keyPathText(const Key &key) const
{
    std::vector<const Key *> chain;
    for (const Key *current = &key; current->parent; current = current->parent)
        chain.push_back(current);
    std::string text;
    for (auto name = chain.rbegin(); name != chain.rend(); ++name) {
        if (name != chain.rbegin())
            text += "\\\\";
        appendEscaped(text, (*name)->name, Quoting::KeyPath);
    }
    return text;
}

std::string WineRegistryFile::save()
{
    for (Key *key : m_changedKeys)
        writeKeyAnew(*key);
    m_changedKeys.clear();

    std::size_t size = m_header.size();
    for (const Block *block = m_firstBlock; block; block = block->next)
        size += block->text.size() + 1;
    std::string text;
    text.reserve(size);
    text += m_header;
    for (const Block *block = m_firstBlock; block; block = block->next) {
        // Text that ended without a line end (a cut file) must not run into a key line.
        if (!text.empty() && text.back() != '\n' && !block->ownText.empty())
            text.push_back('\n');
        text += block->text;
    }
    return text;
}

void WineRegistryFile::writeKeyAnew(Key &key)
{
    readValues(key);
    key.changed = false;
    if (!key.firstBlock) {
        key.droppedLines.clear();
        for (Value &value : key.values) {
            value.origin = nullptr;
            value.changed = false;
        }
        return;
    }
    // New values, and values whose line lies in none of the key's blocks, go to the first block.
    std::vector<Value *> newValues;
    for (Value &value : key.values) {
        bool placed = false;
        if (value.origin) {
            for (const Block *block = key.firstBlock; block && !placed; block = block->nextOfKey)
                placed = inside(value.origin, block->text);
        }
        if (!placed) {
            value.origin = nullptr;
            value.changed = true;
            newValues.push_back(&value);
        }
    }
    std::vector<Value *> none;
    for (Block *block = key.firstBlock->nextOfKey; block; block = block->nextOfKey)
        writeBlockAnew(key, *block, none);
    writeBlockAnew(key, *key.firstBlock, newValues);
    key.droppedLines.clear();
    for (Value &value : key.values)
        value.changed = false;
}

void WineRegistryFile::writeBlockAnew(Key &key, Block &block, std::vector<Value *> &newValues)
{
    std::vector<std::pair<const char *, Value *>> valuesByOrigin;
    for (Value &value : key.values) {
        if (value.origin && inside(value.origin, block.text))
            valuesByOrigin.emplace_back(value.origin, &value);
    }
    std::sort(valuesByOrigin.begin(), valuesByOrigin.end(), [](const auto &a, const auto &b) {
        return std::less<const char *>()(a.first, b.first);
    });
    std::vector<const char *> dropped = key.droppedLines;
    std::sort(dropped.begin(), dropped.end(), std::less<const char *>());

    // Where each kept value line lands in the new text; the pointers are set once it is complete.
    std::vector<std::pair<const char **, std::size_t>> origins;
    std::string out;
    out.reserve(block.text.size() + 128);
    std::size_t newValueIndex = 0;
    auto appendNewValuesBefore = [&](const std::u16string *name) {
        for (; newValueIndex < newValues.size(); ++newValueIndex) {
            Value *value = newValues[newValueIndex];
            if (name && !namedBefore(value->name, *name))
                break;
            if (!out.empty() && out.back() != '\n')
                out.push_back('\n');
            origins.emplace_back(&value->origin, out.size());
            appendValueLine(out, value->name, value->value);
        }
    };

    LineCursor cursor{block.text};
    bool keyLineWritten = false;
    bool inOptions = false;
    std::size_t insertAt = 0;
    while (cursor.advance()) {
        const std::string_view withLineEnd =
                cursor.text.substr(cursor.position, cursor.next - cursor.position);
        const std::size_t first = firstNonBlank(cursor.line);
        if (first == npos) {
            out += withLineEnd;
            continue;
        }
        const std::string_view content = cursor.line.substr(first);
        if (!keyLineWritten) {
            // The key line keeps its path as written; its time and the "#time=" line are new.
            const std::string_view lineEnd =
                    !cursor.line.empty() && cursor.line.back() == '\r' ? "\r\n" : "\n";
            std::size_t close = skipEscaped(cursor.line, first + 1, ']');
            if (close == npos)
                close = cursor.line.size();
            out += cursor.line.substr(0, close);
            out.push_back(' ');
            appendKeyLineSeconds(out, key.time);
            out += lineEnd;
            appendTimeLine(out, key.time);
            out += lineEnd;
            keyLineWritten = true;
            inOptions = true;
            insertAt = out.size();
            continue;
        }
        if (content.front() == '#') {
            if (!startsWith(content, "#time="))
                out += withLineEnd;
            if (inOptions)
                insertAt = out.size();
            continue;
        }
        inOptions = false;
        if (content.front() != '@' && content.front() != '"') {
            out += withLineEnd;
            continue;
        }
        const std::size_t end = valueLineEnd(cursor);
        const std::string_view lines = cursor.text.substr(cursor.position, end - cursor.position);
        const char *origin = lines.data();
        cursor.next = end;
        if (sortedContains(dropped, origin))
            continue;
        const auto found =
                std::lower_bound(valuesByOrigin.begin(), valuesByOrigin.end(), origin,
                                 [](const auto &entry, const char *wanted) {
                                     return std::less<const char *>()(entry.first, wanted);
                                 });
        if (found != valuesByOrigin.end() && found->first == origin) {
            Value *value = found->second;
            appendNewValuesBefore(&value->name);
            origins.emplace_back(&value->origin, out.size());
            if (value->changed) {
                if (!out.empty() && out.back() != '\n')
                    out.push_back('\n');
                origins.back().second = out.size();
                appendValueLine(out, value->name, value->value);
            } else {
                out += lines;
            }
        } else {
            // A line that cannot be read stays as it is.
            for (UnreadableLine &unreadable : key.unreadableLines) {
                if (unreadable.origin == origin)
                    origins.emplace_back(&unreadable.origin, out.size());
            }
            out += lines;
        }
        insertAt = out.size();
    }

    if (newValueIndex < newValues.size()) {
        std::string tail = out.substr(insertAt);
        out.resize(insertAt);
        appendNewValuesBefore(nullptr);
        out += tail;
    }
    block.ownText = std::move(out);
    block.text = block.ownText;
    for (const auto &[origin, offset] : origins)
        *origin = block.ownText.data() + offset;
}

} // namespace platform
