#pragma once

#include <platform/Environment.h>
#include <platform/Registry.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// What the environment of a prefix takes from the host.
struct PrefixEnvironmentSources
{
    // The host process's variables, name and value, as UTF-8.
    std::vector<std::pair<std::string, std::string>> hostVariables;
    std::string hostName;
    unsigned processorCount = 0; // 0 when unknown

    // The values of the running process.
    static PrefixEnvironmentSources fromProcess();
};

// A Windows environment held in memory: names compare without regard to case, every call takes a
// lock.
class PrefixEnvironment final : public Environment
{
public:
    PrefixEnvironment() = default;

    std::optional<std::u16string> get(std::u16string_view name) const override;
    bool set(std::u16string_view name, std::optional<std::u16string_view> value) override;
    std::u16string expand(std::u16string_view text) const override;
    std::vector<EnvironmentVariable> variables() const override;

private:
    struct NameLess
    {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const;
    };

    std::optional<std::u16string> find(std::u16string_view name) const;

    mutable std::mutex m_mutex;
    std::map<std::u16string, std::u16string, NameLess> m_variables;
};

// The environment a Windows program started by Wine in the prefix sees, as Wine builds it:
// - the host's variables, except PATH, TEMP, TMP, HOME, PWD and WINEPATH;
// - the variables Wine computes for every program: program, profile and system folders from the
//   ProfileList and CurrentVersion keys, and the computer name from the host name. They are set
//   before the Environment keys are read, since their expandable values refer to them, and again
//   after them, since no key changes them;
// - the machine's, the user's and the user's volatile Environment keys, each overriding the one
//   before (plain strings first, then the expandable ones, expanded), the user's PATH added after
//   the machine's. Where a key is missing, the values a fresh prefix has in it stand in, so an
//   empty registry gives the environment of a fresh prefix;
// - over the keys, the values Wine writes afresh each time it starts: the processor count and
//   kind, and the user's profile, application data folders, name, domain and logon server;
// - the host's WINEPATH in front of PATH.
std::unique_ptr<PrefixEnvironment> buildPrefixEnvironment(const Registry &registry,
                                                          std::u16string_view userName,
                                                          const PrefixEnvironmentSources &sources);

// The environment of the prefix whose registry is given, for that Windows user, with the host
// values of the running process. Read once: later changes to the registry do not show.
std::unique_ptr<Environment> openPrefixEnvironment(const Registry &registry,
                                                   std::u16string_view userName);

} // namespace platform
