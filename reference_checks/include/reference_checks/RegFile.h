#pragma once

#include "reference_checks/RegistryKey.h"

#include <platform/Registry.h>

#include <QByteArray>
#include <QList>
#include <QString>

// One change that a registration file asks for.
struct RegFileOperation
{
    enum class Kind {
        CreateKey,   // [KEY]: the key, created when missing; the values after it go into it
        DeleteKey,   // [-KEY]: the key with everything below it
        SetValue,    // "name"=data or @=data
        DeleteValue, // "name"=- or @=-
    };

    Kind kind = Kind::CreateKey;
    RegistryPath key;
    QString name;                  // the value's name, "" for the default value; value changes only
    platform::RegistryValue value; // SetValue only
    int line = 0; // the line it starts on in the file read; 0 when it was made otherwise

    bool operator==(const RegFileOperation &) const = default;
};

// Why a file was refused: the line (1 for the first) and what is wrong there.
struct RegFileError
{
    int line = 0;
    QString message;
};

// What applying a file did: how many operations were carried out, and for the one that failed,
// its line and the store's answer. status is Success when all of them were.
struct RegFileOutcome
{
    platform::RegistryStatus status = platform::RegistryStatus::Success;
    int line = 0;
    int applied = 0;
};

// A registration file, the text file registry editors export and import: a header line
// ("Windows Registry Editor Version 5.00", or "REGEDIT4" for the older ANSI form), then key
// lines in brackets, each followed by its value lines.
//
// Reading takes the whole file apart first and refuses it at its first error, so a file is
// either applied as a whole or not at all. Writing gives the version 5.00 form in UTF-16
// little-endian with a byte-order mark and CR LF line ends, which both Windows' and Wine's
// registry editors import.
class RegFile final
{
public:
    enum class Format { Version5, Regedit4 };

    // Reads the bytes of a file: UTF-16 (either byte order) or UTF-8 with a byte-order mark,
    // otherwise UTF-8 when the bytes are valid UTF-8 and Windows-1252 when not. Key paths must
    // begin with a hive's long name. Strings know the escapes \\, \", \n and \r; in REGEDIT4
    // files the hex(1), hex(2) and hex(7) data are ANSI text and become UTF-16. On an error the
    // operations are left empty and error (when given) says where and why.
    bool read(const QByteArray &bytes, RegFileError *error = nullptr);

    // Checks what only the registry can tell before anything is changed: a key under HKEY_USERS
    // must lie below one of its users, which can be neither made nor deleted. False with the
    // line and reason.
    bool check(const platform::Registry &registry, RegFileError *error = nullptr) const;

    // Carries the operations out in order on a registry that can be changed, and stops at the
    // first that fails. Deleting a key or value that is not there is no failure; a key is
    // deleted as deleteRegistryTree() does it.
    RegFileOutcome apply(platform::Registry &registry) const;

    // Replaces the operations with those that make the key at path again with everything below
    // it, from the registry as it is: each key with its values, depth first, subkeys and values
    // in the registry's order, paths spelled from the hive's long name and then as given and as
    // stored below. FileNotFound when the key does not exist.
    platform::RegistryStatus readKey(const platform::Registry &registry, const RegistryPath &path);

    // The version 5.00 text of the operations, encoded as described above.
    QByteArray toBytes() const;

    Format format() const { return m_format; }
    const QList<RegFileOperation> &operations() const { return m_operations; }
    void setOperations(QList<RegFileOperation> operations) { m_operations = std::move(operations); }

private:
    Format m_format = Format::Version5;
    QList<RegFileOperation> m_operations;
};
