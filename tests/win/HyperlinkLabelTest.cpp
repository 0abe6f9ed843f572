// The hyperlink label on a real form under Wine and Xvfb: the pointer really moved over it and away
// (the leave notice comes from the system's own tracking), clicks as the label's window gets them,
// and the shell seen through its seam.

#include "app/Unit3.h"
#include "kit/Exceptions.h"
#include "kit/Forms.h"
#include "tests/win/support/Pump.h"
#include "ui/HyperlinkLabel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TShellCall {
    HWND Owner;
    std::string Verb, File;
    bool NoParameters, NoDirectory;
    INT Show;
};
std::vector<TShellCall> ShellCalls;
INT_PTR ShellResult = 42;

HINSTANCE WINAPI RecordingShell(HWND Owner, LPCSTR Verb, LPCSTR File, LPCSTR Parameters, LPCSTR Directory,
                                INT Show) {
    ShellCalls.push_back({Owner, Verb, File, Parameters == nullptr, Directory == nullptr, Show});
    return reinterpret_cast<HINSTANCE>(ShellResult);
}

class HyperlinkLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShellCalls.clear();
        ShellResult = 42;
        HyperlinkShell.Execute = RecordingShell;
        Form = new TForm(Application);
        Form->SetBounds(100, 100, 300, 120);
        Form->SetCaption("Hyperlink Test");
        Label = new THyperlinkLabel(Form);
        Label->SetParent(Form);
        Label->SetBounds(20, 20, 150, 13);
        Label->SetCaption("https://cardwick.example.org");
        Form->Show();
        PumpFor(100);
    }
    void TearDown() override {
        SetCursorPos(0, 0);
        delete Form;
        HyperlinkShell.Execute = ::ShellExecuteA;
    }

    // The real pointer over the label, or away from it; each returns once the label has been told.
    static void PointerOver(TControl* Control) {
        int Entered = 0;
        Control->OnMouseEnter = TNotifyEvent::Function([&](TObject*) { ++Entered; });
        RECT R;
        GetWindowRect(Control->Handle(), &R);
        SetCursorPos((R.left + R.right) / 2, (R.top + R.bottom) / 2);
        PostMessageA(Control->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        for (int I = 0; I < 40 && !Entered; ++I)
            PumpFor(25);
        Control->OnMouseEnter = nullptr;
        ASSERT_EQ(Entered, 1);
    }
    static void PointerAway(TControl* Control) {
        int Left = 0;
        Control->OnMouseLeave = TNotifyEvent::Function([&](TObject*) { ++Left; });
        SetCursorPos(0, 0);
        // The system's own tracking notices within its hover time.
        for (int I = 0; I < 80 && !Left; ++I)
            PumpFor(25);
        Control->OnMouseLeave = nullptr;
        ASSERT_EQ(Left, 1);
    }
    static void PressLabel(TControl* Control) {
        PostMessageA(Control->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageA(Control->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        PumpFor(100);
    }

    TForm* Form = nullptr;
    THyperlinkLabel* Label = nullptr;
};

TEST_F(HyperlinkLabelTest, ConstructionGivesTheLinkLook) {
    THyperlinkLabel Fresh(nullptr);
    EXPECT_EQ(Fresh.Font()->Color(), clBlue);
    EXPECT_EQ(Fresh.Font()->Style(), TFontStyles{fsUnderline});
    EXPECT_EQ(Fresh.Cursor(), crHandPoint);
    EXPECT_EQ(Fresh.ClickedHyperlinkColor(), TColor{0x800080});
    EXPECT_TRUE(Fresh.UseClickedHyperlinkColor());
    EXPECT_EQ(Fresh.HoverColor(), TColor{0x0000FF});
    EXPECT_TRUE(Fresh.UseHoverColor());
    EXPECT_EQ(Fresh.HoverFontStyle(), TFontStyles{fsUnderline});
    EXPECT_FALSE(Fresh.UseHoverFontStyle());
    EXPECT_EQ(Fresh.TargetURL(), "");
    EXPECT_EQ(Fresh.HyperlinkPrefix(), "");
}

TEST_F(HyperlinkLabelTest, ClickOpensPrefixAndTargetOrElseTheCaption) {
    struct {
        const char *Prefix, *Target, *Expected;
    } Cases[] = {
        {"", "", "https://cardwick.example.org"},
        {"mailto:", "team@cardwick.example", "mailto:team@cardwick.example"},
        {"https://", "", "https://https://cardwick.example.org"},
    };
    for (const auto& Case : Cases) {
        ShellCalls.clear();
        Label->SetHyperlinkPrefix(Case.Prefix);
        Label->SetTargetURL(Case.Target);
        PressLabel(Label);
        ASSERT_EQ(ShellCalls.size(), 1u) << Case.Expected;
        const TShellCall& Call = ShellCalls[0];
        EXPECT_EQ(Call.File, Case.Expected);
        EXPECT_EQ(Call.Verb, "open");
        EXPECT_EQ(Call.Owner, Form->Handle());
        EXPECT_TRUE(Call.NoParameters && Call.NoDirectory);
        EXPECT_EQ(Call.Show, SW_SHOW);
    }
}

TEST_F(HyperlinkLabelTest, WithoutParentTheClickEventRunsThenNavigateRaises) {
    THyperlinkLabel Orphan(nullptr);
    int Clicks = 0;
    Orphan.OnClick = TNotifyEvent::Function([&](TObject*) { ++Clicks; });
    try {
        Orphan.Click();
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "THyperlinkLabel.Navigate() Parent must be assigned.");
    }
    EXPECT_EQ(Clicks, 1);
    EXPECT_TRUE(ShellCalls.empty());
}

TEST_F(HyperlinkLabelTest, HoverFollowsItsFlagsAndLeavingRestores) {
    const TFontStyles Bold{fsBold};
    struct {
        bool UseColor, UseStyle;
        TColor Entry, Inside;
        TFontStyles InsideStyle;
    } Cases[] = {
        {true, false, clBlue, clRed, TFontStyles{fsUnderline}},
        {false, false, clNavy, clNavy, TFontStyles{fsUnderline}},
        {false, true, clGreen, clGreen, Bold},
        {true, true, clMaroon, clRed, Bold},
    };
    for (const auto& Case : Cases) {
        Label->Font()->SetColor(Case.Entry);
        Label->SetUseHoverColor(Case.UseColor);
        Label->SetUseHoverFontStyle(Case.UseStyle);
        Label->SetHoverFontStyle(Bold);
        PointerOver(Label);
        EXPECT_EQ(Label->Font()->Color(), Case.Inside) << Case.UseColor << Case.UseStyle;
        EXPECT_EQ(Label->Font()->Style(), Case.InsideStyle) << Case.UseColor << Case.UseStyle;
        // With hover colour off the colour is still saved on entering: switching it on inside the
        // label must bring the entry colour back on leaving, not an older one.
        Label->SetUseHoverColor(true);
        Label->Font()->SetColor(clSilver);
        PointerAway(Label);
        EXPECT_EQ(Label->Font()->Color(), Case.Entry) << Case.UseColor << Case.UseStyle;
        EXPECT_EQ(Label->Font()->Style(), TFontStyles{fsUnderline}) << Case.UseColor << Case.UseStyle;
    }
}

TEST_F(HyperlinkLabelTest, OnlyASuccessfulOpenWithTheFlagTurnsTheLinkVisited) {
    struct {
        INT_PTR Result;
        bool UseClicked;
        TColor AfterClick, AfterLeave;
    } Cases[] = {
        {42, true, clPurple, clPurple}, {33, true, clPurple, clPurple}, {32, true, clRed, clBlue},
        {2, true, clRed, clBlue},       {42, false, clRed, clBlue},
    };
    for (const auto& Case : Cases) {
        Label->Font()->SetColor(clBlue);
        Label->SetUseClickedHyperlinkColor(Case.UseClicked);
        ShellResult = Case.Result;
        PointerOver(Label);
        PressLabel(Label);
        EXPECT_EQ(Label->Font()->Color(), Case.AfterClick) << Case.Result << Case.UseClicked;
        PointerAway(Label);
        EXPECT_EQ(Label->Font()->Color(), Case.AfterLeave) << Case.Result << Case.UseClicked;
    }
}

TEST_F(HyperlinkLabelTest, AboutBoxLinkShowsNoHoverAndStaysVisited) {
    auto* About = new TfrmAbout(Application);
    About->AfterConstruction();
    About->Show();
    PumpFor(100);
    THyperlinkLabel* Link = About->HyperlinkLabel1;
    PointerOver(Link);
    EXPECT_EQ(Link->Font()->Color(), clRed);
    EXPECT_EQ(Link->Font()->Style(), TFontStyles{fsUnderline});
    PressLabel(Link);
    ASSERT_EQ(ShellCalls.size(), 1u);
    EXPECT_EQ(ShellCalls[0].File, Link->Caption());
    PointerAway(Link);
    About->Hide();
    About->Show();
    PumpFor(50);
    EXPECT_EQ(Link->Font()->Color(), clPurple);
    delete About;
}

} // namespace
