#pragma once

#include <platform/Registry.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One of Wine's registry files (system.reg, user.reg, userdef.reg) in memory: the tree of its
// keys, and its text split into key blocks. A block is a key line with the lines that follow it up
// to the next key line (and the empty lines before it). Saving writes the blocks of unchanged keys
// exactly as they were read, so only the lines of changed keys differ; new and changed lines take
// the form Wine gives them. Values are read from a key's blocks when they are first asked for.
//
// A file whose first line is not Wine's header, or whose "#arch=" is unknown, is rejected: it reads
// as empty and must not be written. Lines that cannot be read (a key line or value line broken in
// any way, unknown lines) are kept as they are and otherwise ignored.
class WineRegistryFile final
{
public:
    struct Block;

    struct Value
    {
        std::u16string name;
        RegistryValue value;
        const char *origin = nullptr; // where its line starts in its block's text; null when new
        bool changed = false;         // its line is written anew at the next save
    };

    // A value line whose name could be read but not its data: kept, and hidden from readers.
    struct UnreadableLine
    {
        std::u16string name;
        const char *origin = nullptr;
    };

    struct Key
    {
        std::u16string name;
        Key *parent = nullptr;
        std::vector<std::unique_ptr<Key>> subkeys; // in order, without regard to case
        Block *firstBlock = nullptr;               // none for a key implied by its subkeys
        Block *lastBlock = nullptr;
        FileTime time = 0;
        bool link = false;
        bool valuesRead = false;
        bool changed = false;      // its blocks are written anew at the next save
        std::vector<Value> values; // in order, without regard to case; valid once valuesRead
        std::vector<UnreadableLine> unreadableLines;
        std::vector<const char *> droppedLines; // lines left out at the next save
    };

    struct Block
    {
        Key *key = nullptr; // null for the lines after a key line that could not be read
        std::string_view text;
        std::string ownText; // the text, once written anew
        Block *previous = nullptr;
        Block *next = nullptr;
        Block *nextOfKey = nullptr;
    };

    // Longest key path Windows allows, in names.
    static constexpr std::size_t maximumDepth = 512;

    WineRegistryFile();
    WineRegistryFile(const WineRegistryFile &) = delete;
    WineRegistryFile &operator=(const WineRegistryFile &) = delete;

    // Reads a file's text; now is the time of keys whose key line has none. False when the text is
    // not a registry file: the tree is then empty and rejected() is true.
    bool load(std::string text, FileTime now);

    // Starts an empty file with Wine's header: rootName is the branch the file holds (for
    // example "REGISTRY\Machine"), arch "win64" or "win32".
    void makeEmpty(std::u16string_view rootName, std::string_view arch);

    bool rejected() const { return m_rejected; }

    // The "#arch=" of the header; empty when there is none.
    std::string_view arch() const { return m_arch; }

    // The branch the header's comment names ("REGISTRY\User\S-1-5-..."); empty when none.
    std::u16string rootName() const;

    // The whole text, with the blocks of changed keys written anew.
    std::string save();

    Key &root() { return *m_root; }

    // The direct subkey of a name, without following links; null when there is none.
    static Key *subkey(const Key &key, std::u16string_view name);

    // The key's values, in order.
    const std::vector<Value> &values(Key &key);

    // A value by name; null when there is none.
    const Value *findValue(Key &key, std::u16string_view name);

    // The target of a link key ("\Registry\Machine\..."); empty when it has none.
    std::u16string linkTarget(Key &key);

    // Changes that mark the key, and its parent where its subkeys change, as written at time now.
    void setValue(Key &key, std::u16string_view name, const RegistryValue &value, FileTime now);
    bool deleteValue(Key &key, std::u16string_view name, FileTime now);
    Key &createSubkey(Key &key, std::u16string_view name, FileTime now);
    // The subkey must have no subkeys of its own. Pointers to it and its values become invalid.
    void deleteSubkey(Key &key, Key &subkey, FileTime now);

    // Number of keys in the tree, written or implied.
    std::size_t keyCount() const { return m_keyCount; }

private:
    void clear();
    Block *appendBlock();
    Key *readKeyLine(std::string_view line, FileTime now, std::vector<Key *> &createdKeys);
    Key &findOrAddSubkey(Key &key, std::u16string_view name, FileTime time, bool &created);
    void readValues(Key &key);
    void readBlockValues(Key &key, const Block &block);
    void addReadValue(Key &key, std::u16string &&name, RegistryValue &&value, const char *origin);
    void addUnreadableLine(Key &key, std::u16string &&name, const char *origin);
    void dropUnreadableLines(Key &key, std::u16string_view name);
    void touch(Key &key, FileTime now);
    void updateBlocks(Key &key);
    bool needsBlock(Key &key);
    Block *blockBefore(const Key &key) const;
    static Block *lastBlockInSubtree(const Key &key);
    void insertBlockAfter(Block *previous, Block *block);
    void unlinkBlock(Block *block);
    void writeKeyAnew(Key &key);
    void writeBlockAnew(Key &key, Block &block, std::vector<Value *> &newValues);
    std::string keyPathText(const Key &key) const;

    std::string m_buffer;
    std::string_view m_header;
    std::string m_ownHeader;
    std::string m_arch;
    std::unique_ptr<Key> m_root;
    std::deque<Block> m_blocks;
    Block *m_firstBlock = nullptr;
    Block *m_lastBlock = nullptr;
    std::vector<Key *> m_changedKeys;
    std::size_t m_keyCount = 1;
    bool m_rejected = false;

    // The previous key line's path while loading: consecutive lines mostly share their start.
    std::vector<std::u16string> m_previousPath;
    std::vector<Key *> m_previousKeys;
};

} // namespace platform
