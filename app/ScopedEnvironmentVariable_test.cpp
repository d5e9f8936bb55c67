#include "app/ScopedEnvironmentVariable.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

constexpr char kName[] = "QA_SCOPED_ENVIRONMENT_TEST";

std::optional<std::string> Value(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

TEST(ScopedEnvironmentVariableTest, SetsForTheScopeAndGivesBackTheEarlierState) {
    const struct Case {
        const char* name;
        const char* before;  // null: unset
        const char* during;
    } cases[] = {
        {"unset before", nullptr, "/dev/null"},
        {"a value before", "user's own", "/dev/null"},
        {"empty before", "", "1"},
        {"set to empty", "user's own", ""},
        {"the same value", "1", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvOverride outer(kName, c.before);
        const std::optional<std::string> before = Value(kName);
        {
            ScopedEnvironmentVariable scoped(kName, c.during);
            EXPECT_TRUE(scoped.Active());
            EXPECT_EQ(Value(kName), std::optional<std::string>(c.during));
        }
        EXPECT_EQ(Value(kName), before);
    }
}

TEST(ScopedEnvironmentVariableTest, InvalidNameOrValueChangesNothing) {
    EnvOverride outer(kName, "kept");
    const struct Case {
        const char* name;
        const char* variable;
        const char* value;
    } cases[] = {
        {"null name", nullptr, "1"},
        {"empty name", "", "1"},
        {"name with =", "QA_SCOPED_ENVIRONMENT_TEST=X", "1"},
        {"null value", kName, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            ScopedEnvironmentVariable scoped(c.variable, c.value);
            EXPECT_FALSE(scoped.Active());
            EXPECT_EQ(Value(kName), std::optional<std::string>("kept"));
        }
        EXPECT_EQ(Value(kName), std::optional<std::string>("kept"));
    }
}

}  // namespace
}  // namespace app_test
