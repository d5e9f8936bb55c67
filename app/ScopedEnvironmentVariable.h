#pragma once

#include <string>

// An environment variable set for the life of the object and given back its
// earlier state (its old value, or unset) when the object ends, so that a
// setting meant for one library's start-up does not reach the programs this
// process starts later. Not thread-safe, like setenv itself: use it only
// while no other thread reads the environment.
class ScopedEnvironmentVariable {
public:
    // Sets name to value, overwriting. name must be a valid variable name
    // (not empty, no '='); when it is not, or setenv fails, nothing changes
    // and Active() is false.
    ScopedEnvironmentVariable(const char* name, const char* value);
    // Restores the earlier state when the variable was set.
    ~ScopedEnvironmentVariable();

    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

    // True when the constructor set the variable.
    bool Active() const { return m_active; }

private:
    std::string m_name;
    std::string m_oldValue;
    bool m_hadValue = false;
    bool m_active = false;
};
