#include "app/ControllerFixture.h"

namespace app_test {
namespace {

using WizardTest = ControllerTest;
using PageKind = FakeWindowLayer::PageKind;

TEST_F(WizardTest, WindowAndWelcomePage) {
    WriteStandardKit();
    auto dlg = StartWizard();
    EXPECT_EQ(dlg->GetState(), STATE_WELCOME);
    EXPECT_EQ(layer.windowTitle, "Installing configuration");
    EXPECT_EQ(layer.windowWidth, 500);
    EXPECT_EQ(layer.windowHeight, 360);
    EXPECT_EQ(layer.CurrentKind(), PageKind::Message);
    EXPECT_EQ(layer.CurrentText(), "Welcome to the product installation program P (V).");
    EXPECT_FALSE(layer.button(WizardButton::Back).enabled);
    EXPECT_TRUE(layer.button(WizardButton::Next).enabled);
    EXPECT_FALSE(layer.button(WizardButton::Next).hidden);
    EXPECT_TRUE(layer.button(WizardButton::Cancel).enabled);
    EXPECT_TRUE(layer.messageBoxes.empty());
}

TEST_F(WizardTest, WelcomePageInTheUsersLanguage) {
    WriteStandardKit();
    SetLanguage(LanguageIdFromCode("ru"));
    auto dlg = StartWizard(false, u"RU");
    EXPECT_EQ(layer.CurrentText(),
              U8(LocalizedString("IDS_WELCOME_TITLE")) + " Продукт (Поставщик).");
}

TEST_F(WizardTest, WelcomePageWithoutAProductOfTheLanguage) {
    ASSERT_EQ(BuildKit(kitPath, StandardFiles(), {{Product("ru", "Продукт", "Поставщик", "")}}),
              "");
    auto dlg = StartWizard();
    EXPECT_EQ(layer.CurrentText(),
              "Welcome to the product installation program <Product> (<Vendor>).");
}

// In these languages the appended name must read as the label of a text
// ending in "of the following product:", never as the tail of a finite verb.
TEST_F(WizardTest, WelcomeSentenceReadsWithTheAppendedName) {
    struct Sentence {
        const char* code;
        const char16_t* kitCode;
        const char* placeholders;
        const char* named;
    };
    const Sentence sentences[] = {
        {"az", u"az",
         "Aşağıdakı məhsulun quraşdırma proqramına xoş gəlmisiniz: <Məhsul> (<Təchizatçı>).",
         "Aşağıdakı məhsulun quraşdırma proqramına xoş gəlmisiniz: Report Templates (Example "
         "Ltd)."},
        {"hu", u"hu", "Üdvözli Önt a következő termék telepítőprogramja: <Termék> (<Szállító>).",
         "Üdvözli Önt a következő termék telepítőprogramja: Report Templates (Example Ltd)."},
        {"ka", u"ka",
         "კეთილი იყოს თქვენი მობრძანება შემდეგი პროდუქტის საინსტალაციო პროგრამაში: <პროდუქტი> "
         "(<მომწოდებელი>).",
         "კეთილი იყოს თქვენი მობრძანება შემდეგი პროდუქტის საინსტალაციო პროგრამაში: Report "
         "Templates (Example Ltd)."},
        {"kk", u"kk", "Келесі өнімді орнату бағдарламасына қош келдіңіз: <Өнім> (<Жеткізуші>).",
         "Келесі өнімді орнату бағдарламасына қош келдіңіз: Report Templates (Example Ltd)."},
        {"tk", u"tk", "Aşakdaky önümiň gurnama programmasyna hoş geldiňiz: <Önüm> (<Üpjün ediji>).",
         "Aşakdaky önümiň gurnama programmasyna hoş geldiňiz: Report Templates (Example Ltd)."},
        {"tr", u"tr", "Aşağıdaki ürünün kurulum programına hoş geldiniz: <Ürün> (<Sağlayıcı>).",
         "Aşağıdaki ürünün kurulum programına hoş geldiniz: Report Templates (Example Ltd)."},
        {"zh", u"zh", "欢迎使用以下产品的安装程序： <产品> (<供应商>).",
         "欢迎使用以下产品的安装程序： Report Templates (Example Ltd)."},
    };
    for (const Sentence& s : sentences) {
        SCOPED_TRACE(s.code);
        SetLanguage(LanguageIdFromCode(s.code));
        const std::string code = s.code;

        // The kit names the product only in another language: placeholders.
        ASSERT_EQ(BuildKit(kitPath, StandardFiles(), {StandardProducts()}), "");
        auto withoutName = StartWizard(false, s.kitCode);
        EXPECT_EQ(layer.CurrentText(), s.placeholders);

        ASSERT_EQ(BuildKit(kitPath, StandardFiles(),
                           {{Product(code, "Report Templates", "Example Ltd", "docs\\e.txt")}}),
                  "");
        auto withName = StartWizard(false, s.kitCode);
        EXPECT_EQ(layer.CurrentText(), s.named);
    }
}

TEST_F(WizardTest, SilentWelcomeShowsOnlyCancel) {
    WriteStandardKit();
    auto dlg = MakeDlg(true);
    ASSERT_TRUE(dlg->Initialize());
    dlg->CreateWizardWindow();
    dlg->ShowWelcomePage();
    EXPECT_TRUE(layer.windowOpen);
    EXPECT_TRUE(layer.button(WizardButton::Back).hidden);
    EXPECT_TRUE(layer.button(WizardButton::Next).hidden);
    EXPECT_FALSE(layer.button(WizardButton::Cancel).hidden);
    EXPECT_TRUE(layer.button(WizardButton::Cancel).enabled);
}

TEST_F(WizardTest, NextShowsTheDirectoryPageWithTheTarget) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    EXPECT_EQ(dlg->GetState(), STATE_SELECT_DIR);
    EXPECT_EQ(layer.CurrentKind(), PageKind::DirSelect);
    EXPECT_EQ(U8(layer.pathField), DefaultTarget());
    EXPECT_TRUE(layer.button(WizardButton::Back).enabled);
    EXPECT_TRUE(layer.button(WizardButton::Next).enabled);
}

TEST_F(WizardTest, BackReturnsToTheSameWelcomePage) {
    WriteStandardKit();
    auto dlg = StartWizard();
    PageId welcome = layer.currentPage;
    dlg->OnNext();
    dlg->OnBack();
    EXPECT_EQ(dlg->GetState(), STATE_WELCOME);
    EXPECT_EQ(layer.currentPage, welcome);
    EXPECT_FALSE(layer.button(WizardButton::Back).enabled);
    EXPECT_EQ(layer.pages.size(), 2u);
}

TEST_F(WizardTest, TypedPathLeftWithBackIsReplacedByTheTarget) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    PageId directoryPage = layer.currentPage;
    layer.pathField = u"/somewhere/else";
    dlg->OnBack();
    dlg->OnNext();
    EXPECT_EQ(layer.currentPage, directoryPage);
    EXPECT_EQ(U8(layer.pathField), DefaultTarget());
    EXPECT_EQ(U8(dlg->GetTargetDir()), DefaultTarget());
}

TEST_F(WizardTest, EmptyPathKeepsTheDirectoryPage) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    layer.pathField = u"";
    dlg->OnNext();
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(layer.messageBoxes[0].flags, MSG_OK);
    EXPECT_EQ(dlg->GetState(), STATE_SELECT_DIR);
    EXPECT_EQ(layer.CurrentKind(), PageKind::DirSelect);
    EXPECT_EQ(layer.progressWidth, 0);
    EXPECT_FALSE(Exists(DefaultTarget()));
}

TEST_F(WizardTest, RelativePathInstalledBelowTheWorkingDirectory) {
    WriteStandardKit();
    CurrentDirOverride cwd(root.path());
    auto dlg = StartWizard();
    dlg->OnNext();
    const char16_t* const typed[] = {
        u"Documents/Templates", u"C:\\t\\x", u"./t", u"../t", u"~other/t", u"~~"};
    for (const char16_t* path : typed) {
        layer.messageBoxes.clear();
        layer.pathField = path;
        dlg->OnNext();
        ASSERT_EQ(layer.messageBoxes.size(), 1u) << U8(path);
        EXPECT_EQ(layer.messageBoxes[0].text, "Specify correct path to template directory.");
        EXPECT_EQ(layer.messageBoxes[0].flags, MSG_OK);
        EXPECT_EQ(dlg->GetState(), STATE_SELECT_DIR) << U8(path);
        EXPECT_EQ(layer.CurrentKind(), PageKind::DirSelect);
    }
    EXPECT_EQ(layer.progressWidth, 0);
    EXPECT_EQ(ListDir(root.path()).size(), 3u) << "home, tmp and kit only";
    EXPECT_FALSE(Exists(UserConfig()));
}

TEST_F(WizardTest, TildePathEndedInAnInstallationError) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    layer.pathField = u"~/Templates";
    dlg->OnNext();
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(U8(dlg->GetTargetDir()), home + "/Templates");
    EXPECT_EQ(ReadFile(home + "/Templates/sub/deep/b.txt"), "beta");
    EXPECT_EQ(ReadFile(UserConfig()), LocationLine(home + "/Templates"));
}

TEST_F(WizardTest, BackslashesOfAnAbsolutePathBecomeSlashes) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    std::string typed = root.path() + "\\t\\x";
    layer.pathField = U16(typed);
    dlg->OnNext();
    EXPECT_EQ(U8(dlg->GetTargetDir()), root / "t/x");
    EXPECT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(ReadFile(root / "t/x/sub/deep/b.txt"), "beta");
    EXPECT_EQ(ReadFile(UserConfig()), LocationLine(root / "t/x"));
}

TEST_F(WizardTest, ButtonsWithoutEffectInTheirState) {
    WriteStandardKit();
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    dlg->OnNext();
    dlg->OnBack();
    EXPECT_EQ(dlg->GetState(), STATE_NONE);
    EXPECT_TRUE(layer.pages.empty());

    dlg->CreateWizardWindow();
    dlg->ShowWelcomePage();
    size_t switches = layer.switches.size();
    dlg->OnBack();
    EXPECT_EQ(dlg->GetState(), STATE_WELCOME);
    EXPECT_EQ(layer.switches.size(), switches);
    EXPECT_TRUE(layer.messageBoxes.empty());
}

TEST_F(WizardTest, CancelAnsweredNoKeepsTheWizard) {
    WriteStandardKit();
    auto dlg = StartWizard();
    layer.answers = {MSG_RESULT_NO};
    dlg->OnCancel();
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Do you really want to cancel installation?");
    EXPECT_EQ(layer.messageBoxes[0].flags, MSG_YESNO | MSG_STYLE_WARNING);
    EXPECT_TRUE(layer.windowOpen);
    EXPECT_EQ(dlg->GetState(), STATE_WELCOME);
}

TEST_F(WizardTest, EscAnsweredYesOnTheDirectoryPageCloses) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    layer.answers = {MSG_RESULT_YES};
    dlg->ConfirmCancel();
    EXPECT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_EQ(layer.closeCount, 1);
    EXPECT_FALSE(Exists(DefaultTarget()));
    EXPECT_FALSE(Exists(UserConfig()));
}

TEST_F(WizardTest, AnyAnswerButYesIsNo) {
    WriteStandardKit();
    auto dlg = StartWizard();
    layer.answers = {MSG_RESULT_NONE, MSG_RESULT_OK};
    dlg->ConfirmCancel();
    dlg->OnCancel();
    EXPECT_EQ(layer.messageBoxes.size(), 2u);
    EXPECT_TRUE(layer.windowOpen);
}

TEST_F(WizardTest, EscOnTheFinalPageAsksToo) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    dlg->OnNext();
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    layer.answers = {MSG_RESULT_NO, MSG_RESULT_YES};
    dlg->ConfirmCancel();
    EXPECT_TRUE(layer.windowOpen);
    dlg->ConfirmCancel();
    EXPECT_EQ(layer.messageBoxes.size(), 2u);
    EXPECT_EQ(layer.messageBoxes[1].text, "Do you really want to cancel installation?");
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_TRUE(layer.openedDocuments.empty());
}

TEST_F(WizardTest, CloseBoxOutsideARunClosesAtOnce) {
    WriteStandardKit();
    auto dlg = StartWizard();
    EXPECT_TRUE(dlg->OnCloseRequest());
    EXPECT_TRUE(layer.messageBoxes.empty());
}

// The user's whole session, played by the event loop: Next, Next, then
// Finish, which waits until the run has ended and the button is enabled.
TEST_F(WizardTest, WholeSessionThroughTheEventLoop) {
    WriteStandardKit();
    auto dlg = StartWizard();
    layer.Click(WizardButton::Next);
    layer.Click(WizardButton::Next);
    layer.Click(WizardButton::Next);
    layer.RunEventLoop();
    EXPECT_FALSE(layer.eventLoopStalled);
    EXPECT_EQ(layer.PendingActions(), 0u);
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_EQ(ReadFile(DefaultTarget() + "a.txt"), "alpha");
    ASSERT_EQ(layer.openedDocuments.size(), 1u);
    EXPECT_EQ(layer.openedDocuments[0], DefaultTarget() + "docs/e.txt");
}

}  // namespace
}  // namespace app_test
