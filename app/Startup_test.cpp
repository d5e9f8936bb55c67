#include "app/Startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "text/Encoding.h"
#include "text/Languages.h"

namespace {

std::string Narrow(const stdx::u16string& text) {
    const stdx::string utf8 = Utf16ToUtf8(text);
    return std::string(utf8.data(), utf8.size());
}

std::optional<std::string> Lang() {
    const char* value = std::getenv("LANG");
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

// Every test runs with a known "LANG" and leaves the caller's environment and
// the process-wide language as it found them.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { m_savedLang = Lang(); }
    void TearDown() override {
        if (m_savedLang) {
            setenv("LANG", m_savedLang->c_str(), 1);
        } else {
            unsetenv("LANG");
        }
        SetLanguage(5);
    }

    // Runs the start-up choice on "Setup" followed by `arguments`.
    StartupChoice Run(std::initializer_list<const char*> arguments, const char* locale) {
        m_storage.assign({"Setup"});
        m_storage.insert(m_storage.end(), arguments.begin(), arguments.end());
        return RunStored(locale);
    }
    // Runs the start-up choice on the arguments in m_storage.
    StartupChoice RunStored(const char* locale) {
        m_argv.clear();
        for (std::string& arg : m_storage) {
            m_argv.push_back(arg.data());
        }
        m_argv.push_back(nullptr);
        m_args = StartupArgs{static_cast<int>(m_storage.size()), m_argv.data(), 0, {}};
        return ChooseStartup(m_args, stdx::string(locale));
    }

    std::string Code(const StartupChoice& choice) { return Narrow(choice.languageCode); }
    static std::string Join(const std::vector<const char*>& arguments) {
        std::string joined;
        for (const char* argument : arguments) {
            joined += std::string(joined.empty() ? "" : " ") + argument;
        }
        return joined;
    }
    std::string Title() { return Narrow(m_args.title); }

    StartupArgs m_args{};
    std::vector<std::string> m_storage;

private:
    std::optional<std::string> m_savedLang;
    std::vector<char*> m_argv;
};

TEST_F(StartupTest, NoArgumentsTakesTheLanguageFromTheLocale) {
    setenv("LANG", "ru_RU.UTF-8", 1);
    const StartupChoice choice = Run({}, "ru_RU");
    EXPECT_FALSE(choice.useCurrentDir);
    EXPECT_FALSE(choice.silent);
    EXPECT_EQ(m_args.languageId, 17);
    EXPECT_EQ(CurrentLanguage(), 17);
    EXPECT_EQ(Code(choice), "ru");
    EXPECT_EQ(Title(), "Установка конфигурации");
}

TEST_F(StartupTest, CurrentDirectoryModeOnlyAsFirstArgument) {
    StartupChoice choice = Run({"usecwd", "/S"}, "en_US");
    EXPECT_TRUE(choice.useCurrentDir);
    EXPECT_TRUE(choice.silent);

    choice = Run({"/S", "usecwd"}, "en_US");
    EXPECT_FALSE(choice.useCurrentDir);
    EXPECT_TRUE(choice.silent);

    for (const char* nearMiss : {"usecwdx", "usecw", "USECWD", "-usecwd"}) {
        choice = Run({nearMiss}, "en_US");
        EXPECT_FALSE(choice.useCurrentDir) << nearMiss;
    }
}

TEST_F(StartupTest, UseCwdIsNotScannedAsASwitch) {
    // After "usecwd" the scan starts at index 2; "usecwd" itself is no switch
    // and anything after it is still read.
    const StartupChoice choice = Run({"usecwd", "-Lde"}, "fr_FR");
    EXPECT_TRUE(choice.useCurrentDir);
    EXPECT_EQ(m_args.languageId, 8);
    EXPECT_EQ(Code(choice), "de");
}

TEST_F(StartupTest, LanguageSwitchEndsTheScan) {
    StartupChoice choice = Run({"-Lde", "/S"}, "fr_FR");
    EXPECT_EQ(m_args.languageId, 8);
    EXPECT_EQ(Code(choice), "de");
    EXPECT_FALSE(choice.silent);
    EXPECT_EQ(Title(), "Installation der Konfiguration");

    choice = Run({"/S", "-Lde"}, "fr_FR");
    EXPECT_EQ(m_args.languageId, 8);
    EXPECT_TRUE(choice.silent);

    // A second language switch is never read, even when the first one fails.
    choice = Run({"-Lxx", "-Lde", "-S"}, "it_IT");
    EXPECT_EQ(m_args.languageId, 11);
    EXPECT_EQ(Code(choice), "it");
    EXPECT_FALSE(choice.silent);
}

TEST_F(StartupTest, SwitchesAreReadByTheirFirstTwoCharacters) {
    StartupChoice choice = Run({"/Silent"}, "en_US");
    EXPECT_TRUE(choice.silent);
    choice = Run({"-s"}, "en_US");
    EXPECT_TRUE(choice.silent);

    // "/lhu": lower-case switch letter; the code itself stays case-sensitive.
    choice = Run({"/lhu"}, "en_US");
    EXPECT_EQ(m_args.languageId, 10);
    EXPECT_EQ(Code(choice), "hu");

    // -Lang asks for the code "ng", which names nothing; the scan still ends
    // there, so the silent switch after it is ignored.
    choice = Run({"-Lang", "/S"}, "ja_JP");
    EXPECT_EQ(m_args.languageId, 5);
    EXPECT_EQ(Code(choice), "en");
    EXPECT_FALSE(choice.silent);
}

TEST_F(StartupTest, NonSwitchArgumentsAreIgnored) {
    const StartupChoice choice =
        Run({"", "-", "/", "S", "Lde", "--Lde", "-X", "+S", "C:\\kit"}, "es_ES");
    EXPECT_FALSE(choice.useCurrentDir);
    EXPECT_FALSE(choice.silent);
    EXPECT_EQ(m_args.languageId, 9);
    EXPECT_EQ(Code(choice), "es");
}

// Long options stand anywhere after "usecwd": before and after the language
// and silent switches, and they never count as one of them.
TEST_F(StartupTest, LongOptionsInEveryPosition) {
    setenv("LANG", "C", 1);
    struct Case {
        std::vector<const char*> arguments;
        bool useCurrentDir;
        bool silent;
        const char* code;
        bool quiet;
        bool plan;
        const char* dir;  // null: no --dir
        const char* log;  // null: no --log
    };
    const std::vector<Case> cases = {
        {{"usecwd", "--quiet", "-Lde"}, true, true, "de", true, false, nullptr, nullptr},
        {{"usecwd", "-Lde", "--quiet"}, true, true, "de", true, false, nullptr, nullptr},
        {{"usecwd", "/S", "--plan", "-Lru"}, true, true, "ru", false, true, nullptr, nullptr},
        {{"--plan", "usecwd"}, false, false, "fr", false, true, nullptr, nullptr},
        {{"usecwd", "--dir=/t/x", "/S"}, true, true, "fr", false, false, "/t/x", nullptr},
        {{"-Lde", "--dir=/t/x", "/S", "--log=/l/og"},
         false,
         false,
         "de",
         false,
         false,
         "/t/x",
         "/l/og"},
        {{"--log=Lde", "--dir=/Silent"}, false, false, "fr", false, false, "/Silent", "Lde"},
        {{"--Lde", "--S"}, false, false, "fr", false, false, nullptr, nullptr},
        {{"--dir=/a", "--dir=/b", "-S"}, false, true, "fr", false, false, "/b", nullptr},
    };
    for (const Case& c : cases) {
        m_storage.assign({"Setup"});
        m_storage.insert(m_storage.end(), c.arguments.begin(), c.arguments.end());
        const StartupChoice choice = RunStored("fr_FR");
        const std::string what = Join(c.arguments);
        EXPECT_EQ(choice.useCurrentDir, c.useCurrentDir) << what;
        EXPECT_EQ(choice.silent, c.silent) << what;
        EXPECT_EQ(Code(choice), c.code) << what;
        EXPECT_EQ(choice.options.quiet, c.quiet) << what;
        EXPECT_EQ(choice.options.plan, c.plan) << what;
        EXPECT_EQ(choice.options.hasDir, c.dir != nullptr) << what;
        EXPECT_EQ(Narrow(choice.options.dir), c.dir != nullptr ? c.dir : "") << what;
        EXPECT_EQ(choice.options.hasLog, c.log != nullptr) << what;
        EXPECT_EQ(std::string(choice.options.logPath.c_str()), c.log != nullptr ? c.log : "")
            << what;
        // "--Lde" and "--S" are unknown long options, refused; all the
        // other rows are accepted.
        EXPECT_EQ(choice.options.usageError.empty(), c.arguments[0] != std::string("--Lde"))
            << what << ": " << choice.options.usageError.c_str();
    }
}

TEST_F(StartupTest, HelpVersionAndRefusedArguments) {
    setenv("LANG", "C", 1);
    const char* home = std::getenv("HOME");
    struct Case {
        std::vector<const char*> arguments;
        bool help;
        bool version;
        bool refused;
    };
    const std::vector<Case> cases = {
        {{"--help"}, true, false, false},
        {{"usecwd", "-h"}, true, false, false},
        {{"-Lde", "-?"}, true, false, false},
        {{"/S", "/?"}, true, false, false},
        {{"--version"}, false, true, false},
        {{"--bogus", "--help"}, true, false, true},
        {{"--dir=relative/x"}, false, false, true},
        {{"--dir="}, false, false, true},
        {{"--dir"}, false, false, true},
        {{"--dir=~user/x"}, false, false, true},
        {{"--log="}, false, false, true},
        {{"--"}, false, false, true},
        {{"--helpme"}, false, false, true},
        {{"-help"}, false, false, false},  // the one-letter scan ignores 'h'
    };
    for (const Case& c : cases) {
        m_storage.assign({"Setup"});
        m_storage.insert(m_storage.end(), c.arguments.begin(), c.arguments.end());
        const StartupChoice choice = RunStored("en_US");
        const std::string what = Join(c.arguments);
        EXPECT_EQ(choice.options.help, c.help) << what;
        EXPECT_EQ(choice.options.version, c.version) << what;
        EXPECT_EQ(!choice.options.usageError.empty(), c.refused) << what;
        EXPECT_EQ(choice.options.WithoutWindows(), c.help || c.version || c.refused) << what;
    }

    // "~" and "~/x" come from the home directory.
    ASSERT_NE(home, nullptr);
    m_storage.assign({"Setup", "--dir=~/x"});
    EXPECT_EQ(Narrow(RunStored("en_US").options.dir), std::string(home) + "/x");
    m_storage.assign({"Setup", "--dir=~"});
    EXPECT_EQ(Narrow(RunStored("en_US").options.dir), std::string(home));
}

TEST_F(StartupTest, EmptyLanguageSwitchFallsBackToTheLocale) {
    const StartupChoice choice = Run({"-L"}, "pl_PL");
    EXPECT_EQ(m_args.languageId, 15);
    EXPECT_EQ(Code(choice), "pl");
}

TEST_F(StartupTest, UpperCaseCodeFallsBackToTheLocale) {
    setenv("LANG", "C", 1);
    const StartupChoice choice = Run({"-LDE"}, "fr_FR");
    EXPECT_EQ(m_args.languageId, 6);
    EXPECT_EQ(Code(choice), "fr");
    EXPECT_EQ(Title(), "Installation de la configuration");
}

TEST_F(StartupTest, NonEmptyLangIsNeverChanged) {
    setenv("LANG", "C", 1);
    Run({}, "fr_FR");
    EXPECT_EQ(Lang(), std::optional<std::string>("C"));
}

TEST_F(StartupTest, UnsetLangTakesTheFullLocaleIdentifier) {
    unsetenv("LANG");
    const StartupChoice choice = Run({}, "fr_FR");
    EXPECT_EQ(Lang(), std::optional<std::string>("fr_FR.UTF-8"));
    EXPECT_EQ(m_args.languageId, 6);
    EXPECT_EQ(Code(choice), "fr");
}

TEST_F(StartupTest, EmptyLangIsSetEvenWhenTheLocaleNamesNoLanguage) {
    setenv("LANG", "", 1);
    const StartupChoice choice = Run({}, "ja_JP");
    EXPECT_EQ(Lang(), std::optional<std::string>("ja_JP.UTF-8"));
    EXPECT_EQ(m_args.languageId, 5);
    EXPECT_EQ(Code(choice), "en");
    EXPECT_EQ(Title(), "Installing configuration");
}

TEST_F(StartupTest, LangIsLeftAloneWhenTheSwitchChoosesTheLanguage) {
    unsetenv("LANG");
    Run({"-Lru"}, "fr_FR");
    EXPECT_EQ(Lang(), std::nullopt);
    EXPECT_EQ(m_args.languageId, 17);
}

TEST_F(StartupTest, EmptyLocaleFallsBackToEnglishWithoutTouchingLang) {
    unsetenv("LANG");
    const StartupChoice choice = Run({}, "");
    EXPECT_EQ(Lang(), std::nullopt);
    EXPECT_EQ(m_args.languageId, 5);
    EXPECT_EQ(Code(choice), "en");
    EXPECT_EQ(Title(), "Installing configuration");
}

TEST_F(StartupTest, LocaleIdentifierIsShortenedToTwoCharacters) {
    setenv("LANG", "C", 1);
    StartupChoice choice = Run({}, "ar_EG");
    EXPECT_EQ(m_args.languageId, 22);
    EXPECT_EQ(Code(choice), "ar");
    EXPECT_EQ(Title(), "Installing configuration");

    choice = Run({}, "de");
    EXPECT_EQ(m_args.languageId, 8);
    EXPECT_EQ(Code(choice), "de");

    choice = Run({}, "kk_KZ@currency=KZT");
    EXPECT_EQ(m_args.languageId, 12);

    choice = Run({}, "ukr");
    EXPECT_EQ(m_args.languageId, 20);
    EXPECT_EQ(Code(choice), "uk");

    // One character is used whole and names nothing.
    choice = Run({}, "e");
    EXPECT_EQ(m_args.languageId, 5);
    EXPECT_EQ(Code(choice), "en");

    // The shortened code is still compared case-sensitively.
    choice = Run({}, "DE_de");
    EXPECT_EQ(m_args.languageId, 5);
}

TEST_F(StartupTest, SpanishFindsTheFirstOfItsTwoRows) {
    setenv("LANG", "C", 1);
    StartupChoice choice = Run({"-Les"}, "en_US");
    EXPECT_EQ(m_args.languageId, 9);
    choice = Run({}, "es_MX");
    EXPECT_EQ(m_args.languageId, 9);
    EXPECT_EQ(Title(), "Instalación de la configuración");
}

TEST_F(StartupTest, StaleLanguageIdIsReset) {
    setenv("LANG", "C", 1);
    Run({}, "en_US");
    m_args.languageId = 17;  // a caller that forgot to clear it
    m_args.argc = 1;
    ChooseStartup(m_args, stdx::string("de_AT"));
    EXPECT_EQ(m_args.languageId, 8);
}

}  // namespace
