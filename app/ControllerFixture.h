#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/FakeWindowLayer.h"
#include "text/Languages.h"

namespace app_test {

// A controller on the recording fake, with its own home and temporary
// directories and a kit beside a bundle at kitDir/Setup.app.
class ControllerTest : public ::testing::Test {
protected:
    ControllerTest()
        : home(root / "home"),
          tmp(root / "tmp"),
          kitDir(root / "kit"),
          kitPath(kitDir + "/qarn.pkd"),
          bundleExecutable(kitDir + "/Setup.app/Contents/MacOS/Setup") {
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(tmp);
        std::filesystem::create_directories(kitDir);
        m_home = std::make_unique<EnvOverride>("HOME", home);
        m_tmp = std::make_unique<EnvOverride>("TMPDIR", tmp);
        SetLanguage(5);
    }
    ~ControllerTest() override { SetLanguage(5); }

    std::unique_ptr<TestDlg> MakeDlg(bool silent = false, const char16_t* language = u"en",
                                     bool useCurrentDir = false) {
        auto dlg = std::make_unique<TestDlg>(silent, stdx::string("Installing configuration"),
                                             stdx::u16string(language), useCurrentDir, &layer);
        dlg->executable = bundleExecutable;
        return dlg;
    }

    // Initialize, the window and the welcome page, as start-up does.
    std::unique_ptr<TestDlg> StartWizard(bool silent = false, const char16_t* language = u"en") {
        std::unique_ptr<TestDlg> dlg = MakeDlg(silent, language);
        EXPECT_TRUE(dlg->Initialize());
        dlg->CreateWizardWindow();
        dlg->ShowWelcomePage();
        return dlg;
    }

    static std::vector<KitFile> StandardFiles() {
        return {
            {"a.txt", "alpha", 1600000000},
            {"docs\\e.txt", "English description", 1600000100},
            {"docs\\r.txt", "Описание", 1600000200},
            {"sub\\deep\\b.txt", "beta", 1600000300},
        };
    }
    static std::vector<config::ProductInfo> StandardProducts() {
        return {Product("en", "P", "V", "docs\\e.txt"),
                Product("ru", "Продукт", "Поставщик", "docs\\r.txt")};
    }
    void WriteStandardKit() {
        ASSERT_EQ(BuildKit(kitPath, StandardFiles(), {StandardProducts()}), "");
    }

    std::string DefaultTarget() const { return home + "/.qarn/Qa/qarn/tmplts/"; }
    std::string UserConfig() const { return home + "/.Qa/qalaunch/qalaunch.cfg"; }
    std::string AlternateConfig() const { return home + "/.Qa/qalauncht/qalaunch.cfg"; }
    static std::string LocationLine(const std::string& directory) {
        return "ConfigurationTemplatesLocation=" + directory + "\n";
    }

    TempDir root;
    std::string home;
    std::string tmp;
    std::string kitDir;
    std::string kitPath;
    std::string bundleExecutable;
    FakeWindowLayer layer;

private:
    std::unique_ptr<EnvOverride> m_home;
    std::unique_ptr<EnvOverride> m_tmp;
};

}  // namespace app_test
