#include "app/ScopedEnvironmentVariable.h"

#include <cstdlib>
#include <cstring>

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value) {
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '=') != nullptr ||
        value == nullptr) {
        return;
    }
    const char* old = std::getenv(name);
    // Copied now: setenv may free the string getenv pointed to.
    m_hadValue = old != nullptr;
    if (m_hadValue) {
        m_oldValue = old;
    }
    m_name = name;
    m_active = setenv(name, value, 1) == 0;
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    if (!m_active) {
        return;
    }
    if (m_hadValue) {
        setenv(m_name.c_str(), m_oldValue.c_str(), 1);
    } else {
        unsetenv(m_name.c_str());
    }
}
