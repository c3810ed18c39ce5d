#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One variable of an environment.
struct EnvironmentVariable
{
    std::u16string name;
    std::u16string value;

    bool operator==(const EnvironmentVariable &) const = default;
};

// The Windows environment of the program: the variables a Windows program started on the machine
// sees, not the host process's own. Names compare without regard to case. There is one
// environment for the whole program; every call may come from any thread.
class Environment
{
public:
    virtual ~Environment() = default;

    // The value of a variable (GetEnvironmentVariableW); empty when it is not set. A variable set
    // to the empty text is set, and its value is the empty text.
    virtual std::optional<std::u16string> get(std::u16string_view name) const = 0;

    // Sets a variable, or removes it when value is empty (SetEnvironmentVariableW). A variable
    // whose name differs only in case is replaced, and the new spelling is kept. Removing a
    // variable that is not set succeeds. False, with nothing changed, when the name is empty or
    // has "=" after its first character.
    virtual bool set(std::u16string_view name, std::optional<std::u16string_view> value) = 0;

    // Replaces every %NAME% of a set variable by its value (ExpandEnvironmentStringsW). A
    // reference to a variable that is not set stays as written, both "%" included, and the text
    // after it is read on from its closing "%"; "%%" and a "%" without a partner stay too. The
    // result is complete: a caller that imitates a fixed buffer compares its length plus one
    // (the terminating NUL) with the buffer's size.
    virtual std::u16string expand(std::u16string_view text) const = 0;

    // Every variable, sorted by name without regard to case.
    virtual std::vector<EnvironmentVariable> variables() const = 0;
};

} // namespace platform
