#include <platform/Machine.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

std::unique_ptr<Machine> &installedMachine()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

} // namespace

Machine &Machine::current()
{
    const std::unique_ptr<Machine> &machine = installedMachine();
    if (!machine) {
        // A call before install() is a programming error; stop with a clear message rather than
        // dereferencing nothing.
        std::fputs("platform::Machine::current() called before a machine was installed\n", stderr);
        std::abort();
    }
    return *machine;
}

bool Machine::hasCurrent()
{
    return installedMachine() != nullptr;
}

void Machine::install(std::unique_ptr<Machine> machine)
{
    installedMachine() = std::move(machine);
}

} // namespace platform
