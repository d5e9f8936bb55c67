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
        m_argv.clear();
        for (std::string& arg : m_storage) {
            m_argv.push_back(arg.data());
        }
        m_argv.push_back(nullptr);
        m_args = StartupArgs{static_cast<int>(m_storage.size()), m_argv.data(), 0, {}};
        return ChooseStartup(m_args, stdx::string(locale));
    }

    std::string Code(const StartupChoice& choice) { return Narrow(choice.languageCode); }
    std::string Title() { return Narrow(m_args.title); }

    StartupArgs m_args{};

private:
    std::optional<std::string> m_savedLang;
    std::vector<std::string> m_storage;
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
