#pragma once

#include "Command.h"

// `nimbra disk`: the disk cleaner's items on the prefix, in the order the Disk page lists them.
//   items                               each item's title and description
//   analyze [--item TITLE]... [--files] what each item would remove: the number and the size,
//                                       under the name the Disk page shows; with --files every
//                                       entry found
//   analyze [--entry TEXT]... [--files] the same for the items of the Disk page's checked
//                                       entries: those checked at start, or the ones named
//   clean [--item TITLE]... --yes       analyzes, then removes, and says what really went
// Without --item `clean` takes every item; titles and entry texts compare without regard to case.
// `clean` refuses to change anything without --yes.
class DiskCommand final : public Command
{
public:
    QString name() const override { return QStringLiteral("disk"); }
    QString summary() const override
    {
        return QStringLiteral("List, analyze and clean the disk cleaner's items");
    }
    QString synopsis() const override;
    QList<QCommandLineOption> options() const override;
    int run(CommandContext &context) const override;
};
