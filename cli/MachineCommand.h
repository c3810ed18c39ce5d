#pragma once

#include "Command.h"

// `nimbra machine`: the prefix, the Windows user and each drive with its type and host folder.
class MachineCommand final : public Command
{
public:
    QString name() const override { return QStringLiteral("machine"); }
    QString summary() const override
    {
        return QStringLiteral("Show the prefix, the Windows user and the drives");
    }
    int run(CommandContext &context) const override;
};
