#include "PrefixEnvironment.h"

#include "PrefixProfile.h"
#include "PrefixShellFolders.h"
#include "VariableExpansion.h"

#include <platform/ShellFolders.h>
#include <platform/Text.h>

#include <array>
#include <cstdint>

#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

constexpr std::u16string_view machineEnvironmentKey =
        u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::u16string_view userEnvironmentKey = u"Environment";
constexpr std::u16string_view volatileEnvironmentKey = u"Volatile Environment";

// Windows keeps a computer name to this many characters.
constexpr std::size_t computerNameLength = 15;

// One string value of an Environment key.
struct EnvironmentValue
{
    std::u16string name;
    std::uint32_t type = RegSz;
    std::u16string text;
};

using EnvironmentLayer = std::vector<EnvironmentValue>;

bool isValidName(std::u16string_view name)
{
    return !name.empty() && name.find(u'=', 1) == std::u16string_view::npos;
}

// Host variables that mean something else on the host, or that Wine replaces.
bool staysOnHost(std::u16string_view name)
{
    for (const std::u16string_view hostOnly :
         {u"PATH", u"TEMP", u"TMP", u"HOME", u"PWD", u"WINEPATH"}) {
        if (equalsIgnoreCase(name, hostOnly))
            return true;
    }
    return false;
}

// The string values of a key, in the registry's order; empty when the key is missing.
std::optional<EnvironmentLayer> readLayer(const Registry &registry, RegistryHive hive,
                                          std::u16string_view path)
{
    std::unique_ptr<RegistryKey> key;
    if (registry.open(hive, path, key) != RegistryStatus::Success || !key)
        return std::nullopt;
    EnvironmentLayer layer;
    for (std::uint32_t index = 0;; ++index) {
        std::u16string name;
        RegistryValue value;
        if (key->valueAt(index, name, &value) != RegistryStatus::Success)
            break;
        if (value.type == RegSz || value.type == RegExpandSz)
            layer.push_back({std::move(name), value.type, registryText(value)});
    }
    return layer;
}

// Adds a value to a layer, replacing one of the same name.
void put(EnvironmentLayer &layer, std::u16string_view name, std::uint32_t type, std::u16string text)
{
    for (EnvironmentValue &value : layer) {
        if (equalsIgnoreCase(value.name, name)) {
            value.type = type;
            value.text = std::move(text);
            return;
        }
    }
    layer.push_back({std::u16string(name), type, std::move(text)});
}

// Applies a layer as Windows does: plain strings first, then the expandable ones, each expanded
// with what is set by then. An empty value sets nothing; a PATH adds to the PATH set before.
void applyLayer(PrefixEnvironment &environment, const EnvironmentLayer &layer)
{
    for (const std::uint32_t type : {std::uint32_t(RegSz), std::uint32_t(RegExpandSz)}) {
        for (const EnvironmentValue &value : layer) {
            if (value.type != type)
                continue;
            std::u16string text = type == RegExpandSz ? environment.expand(value.text) : value.text;
            if (text.empty())
                continue;
            if (equalsIgnoreCase(value.name, u"PATH")) {
                if (std::optional<std::u16string> path = environment.get(u"PATH");
                    path && !path->empty())
                    text = *path + u";" + text;
            }
            environment.set(value.name, text);
        }
    }
}

// The machine's Environment key of a fresh prefix.
EnvironmentLayer freshMachineLayer()
{
    return {
            {u"ComSpec", RegExpandSz, u"%SystemRoot%\\system32\\cmd.exe"},
            {u"OS", RegSz, u"Windows_NT"},
            {u"PATH", RegExpandSz,
             u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem;"
             u"%SystemRoot%\\system32\\WindowsPowershell\\v1.0"},
            {u"PATHEXT", RegSz, u".com;.exe;.bat;.cmd;.vbs;.vbe;.js;.jse;.wsf;.wsh"},
            {u"TEMP", RegExpandSz, u"%SystemRoot%\\temp"},
            {u"TMP", RegExpandSz, u"%SystemRoot%\\temp"},
            {u"windir", RegExpandSz, u"%SystemRoot%"},
            {u"winsysdir", RegSz, std::u16string(prefixSystemFolder)},
    };
}

std::u16string_view processorArchitecture()
{
#if defined(__x86_64__)
    return u"AMD64";
#elif defined(__aarch64__)
    return u"ARM64";
#elif defined(__i386__)
    return u"x86";
#else
    return {};
#endif
}

// The host name up to its first dot, in capitals and cut to the length Windows allows.
std::u16string computerName(std::string_view hostName)
{
    std::string name(hostName.substr(0, hostName.find('.')));
    if (name.size() > computerNameLength)
        name.resize(computerNameLength);
    for (char &character : name) {
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
    }
    return fromUtf8(name);
}

} // namespace

bool PrefixEnvironment::NameLess::operator()(std::u16string_view a, std::u16string_view b) const
{
    return compareIgnoreCase(a, b) < 0;
}

std::optional<std::u16string> PrefixEnvironment::find(std::u16string_view name) const
{
    const auto found = m_variables.find(name);
    if (found == m_variables.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::u16string> PrefixEnvironment::get(std::u16string_view name) const
{
    const std::lock_guard lock(m_mutex);
    return find(name);
}

bool PrefixEnvironment::set(std::u16string_view name, std::optional<std::u16string_view> value)
{
    if (!isValidName(name))
        return false;
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_variables.find(name); found != m_variables.end())
        m_variables.erase(found);
    if (value)
        m_variables.emplace(std::u16string(name), std::u16string(*value));
    return true;
}

std::u16string PrefixEnvironment::expand(std::u16string_view text) const
{
    const std::lock_guard lock(m_mutex);
    return expandVariables(text, [this](std::u16string_view name) { return find(name); });
}

std::vector<EnvironmentVariable> PrefixEnvironment::variables() const
{
    const std::lock_guard lock(m_mutex);
    std::vector<EnvironmentVariable> all;
    all.reserve(m_variables.size());
    for (const auto &[name, value] : m_variables)
        all.push_back({name, value});
    return all;
}

PrefixEnvironmentSources PrefixEnvironmentSources::fromProcess()
{
    PrefixEnvironmentSources sources;
    for (char **entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        sources.hostVariables.emplace_back(std::string(text.substr(0, equals)),
                                           std::string(text.substr(equals + 1)));
    }
    std::array<char, 256> hostName{};
    if (::gethostname(hostName.data(), hostName.size() - 1) == 0)
        sources.hostName = hostName.data();
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    sources.processorCount = processors > 0 ? static_cast<unsigned>(processors) : 0;
    return sources;
}

std::unique_ptr<PrefixEnvironment> buildPrefixEnvironment(const Registry &registry,
                                                          std::u16string_view userName,
                                                          const PrefixEnvironmentSources &sources)
{
    auto environment = std::make_unique<PrefixEnvironment>();
    std::u16string winePath;
    for (const auto &[hostName, hostValue] : sources.hostVariables) {
        const std::u16string name = fromUtf8(hostName);
        if (hostName == "WINEPATH")
            winePath = fromUtf8(hostValue);
        if (staysOnHost(name) || environment->get(name))
            continue;
        environment->set(name, fromUtf8(hostValue));
    }

    const PrefixProfile profile = PrefixProfile::read(registry, userName);
    const std::u16string computer = computerName(sources.hostName);
    // Known before the Environment keys are read, whose expandable values refer to them, and set
    // again after them, since no key may change them.
    const auto setComputedVariables = [&] {
        for (const std::u16string_view name :
             {u"ProgramFiles", u"ProgramFiles(x86)", u"ProgramW6432", u"CommonProgramFiles",
              u"CommonProgramFiles(x86)", u"CommonProgramW6432", u"ProgramData", u"ALLUSERSPROFILE",
              u"PUBLIC", u"SystemDrive", u"SystemRoot"}) {
            if (std::optional<std::u16string> value = profile.variable(name))
                environment->set(name, *value);
        }
        if (!computer.empty())
            environment->set(u"COMPUTERNAME", computer);
    };
    setComputedVariables();
    environment->set(u"USERPROFILE", profile.userProfile);

    EnvironmentLayer machine =
            readLayer(registry, RegistryHive::LocalMachine, machineEnvironmentKey)
                    .value_or(freshMachineLayer());
    if (sources.processorCount > 0)
        put(machine, u"NUMBER_OF_PROCESSORS", RegSz,
            fromUtf8(std::to_string(sources.processorCount)));
    if (!processorArchitecture().empty())
        put(machine, u"PROCESSOR_ARCHITECTURE", RegSz, std::u16string(processorArchitecture()));
    applyLayer(*environment, machine);

    const std::u16string userTemp = profile.userProfile + u"\\Temp";
    applyLayer(*environment, readLayer(registry, RegistryHive::CurrentUser, userEnvironmentKey)
                                     .value_or(EnvironmentLayer{{u"TEMP", RegSz, userTemp},
                                                                {u"TMP", RegSz, userTemp}}));

    // Wine writes these into the volatile key each time it starts, over what was there.
    EnvironmentLayer session =
            readLayer(registry, RegistryHive::CurrentUser, volatileEnvironmentKey)
                    .value_or(EnvironmentLayer{});
    const VariableLookup variables = [&](std::u16string_view name) {
        if (std::optional<std::u16string> value = profile.variable(name))
            return value;
        return environment->get(name);
    };
    for (const auto &[name, id] :
         {std::pair{u"APPDATA", csidl::AppData}, std::pair{u"LOCALAPPDATA", csidl::LocalAppData}}) {
        if (std::optional<std::u16string> folder =
                    PrefixShellFolders::folder(id, registry, profile, variables))
            put(session, name, RegSz, std::move(*folder));
    }
    const std::u16string &home = profile.userProfile;
    const bool homeOnDrive = home.size() >= 2 && home[1] == u':';
    put(session, u"CLIENTNAME", RegSz, u"Console");
    put(session, u"HOMEDRIVE", RegSz, homeOnDrive ? home.substr(0, 2) : std::u16string());
    put(session, u"HOMEPATH", RegSz, homeOnDrive ? home.substr(2) : home);
    put(session, u"HOMESHARE", RegSz, {});
    put(session, u"LOGONSERVER", RegSz, computer.empty() ? computer : u"\\\\" + computer);
    put(session, u"SESSIONNAME", RegSz, u"Console");
    put(session, u"USERDOMAIN", RegSz, computer);
    put(session, u"USERNAME", RegSz, profile.userName);
    put(session, u"USERPROFILE", RegSz, profile.userProfile);
    applyLayer(*environment, session);

    setComputedVariables();

    if (!winePath.empty()) {
        const std::optional<std::u16string> path = environment->get(u"PATH");
        environment->set(u"PATH", path && !path->empty() ? winePath + u";" + *path : winePath);
    }
    return environment;
}

std::unique_ptr<Environment> openPrefixEnvironment(const Registry &registry,
                                                   std::u16string_view userName)
{
    return buildPrefixEnvironment(registry, userName, PrefixEnvironmentSources::fromProcess());
}

} // namespace platform
