#pragma once

#include "Command.h"

// `nimbra registry`: reads and changes the prefix's registry.
//   query KEY [--recursive]  the key's values and subkeys, laid out as `reg query` lays them out
//   export KEY FILE          the key with everything below it as a registration file
//   import FILE              applies a registration file, whole or not at all
//   set KEY NAME TEXT        stores a string value, making the key when it is missing
//   delete KEY [NAME]        deletes a value, or the key with everything below it
// KEY begins with a hive's long or short name (HKEY_CURRENT_USER or HKCU, ...); without one it
// lies under HKEY_LOCAL_MACHINE. Changes fail with the reason when the registry cannot be
// changed, for instance while a Wine server runs for the prefix.
class RegistryCommand final : public Command
{
public:
    QString name() const override { return QStringLiteral("registry"); }
    QString summary() const override
    {
        return QStringLiteral("Query, export, import, set and delete registry keys and values");
    }
    QString synopsis() const override;
    QList<QCommandLineOption> options() const override;
    int run(CommandContext &context) const override;
};
