#include "app/Unit3.h"

#include "app/res/Resources.h"

#include "Version.h"

TfrmAbout* frmAbout = nullptr;

TfrmAbout::TfrmAbout(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmAbout");
    SetCaption("About Orvela Cardwick");
    SetBounds(438, 237, 342, 238);

    Panel1 = PlaceControl<TPanel>(this, this, "Panel1", 8, 8, 321, 161);
    Panel1->SetBevelInner(bvRaised);
    Panel1->SetBevelOuter(bvLowered);
    Panel1->SetParentColor(true);
    Panel1->SetTabOrder(0);

    ProgramIcon = PlaceControl<TImage>(this, Panel1, "ProgramIcon", 8, 8, 32, 32);
    ProgramIcon->Picture()->Icon()->LoadFromResourceID(IDI_CARDWICK, 32, 32);
    ProgramIcon->SetAutoSize(true);
    ProgramIcon->SetStretch(true);

    ProductName = PlaceControl<TLabel>(this, Panel1, "ProductName", 56, 8, 95, 13);
    ProductName->SetCaption("Orvela Cardwick");
    Version = PlaceControl<TLabel>(this, Panel1, "Version", 56, 32, 53, 13);
    Version->SetCaption("Version " CARDWICK_VERSION_SHORT);
    Copyright = PlaceControl<TLabel>(this, Panel1, "Copyright", 56, 56, 254, 13);
    Copyright->SetCaption("Copyright (C) 2026 The Cardwick developers");
    Comments = PlaceControl<TLabel>(this, Panel1, "Comments", 56, 104, 257, 49);
    Comments->SetWordWrap(true);

    OKButton = PlaceControl<TButton>(this, this, "OKButton", 130, 180, 75, 25);
    OKButton->SetCaption("OK");
    OKButton->SetDefault(true);
    OKButton->SetModalResult(mrOk);
    OKButton->SetTabOrder(1);

    // Hover shows its own red on red: no visible change until the first visit turns it purple.
    HyperlinkLabel1 = PlaceControl<THyperlinkLabel>(this, Panel1, "HyperlinkLabel1", 56, 72, 111, 13);
    HyperlinkLabel1->SetCaption("https://cardwick.example.org");
    HyperlinkLabel1->SetCursor(crHandPoint);
    HyperlinkLabel1->SetColor(clBtnFace);
    HyperlinkLabel1->Font()->SetName("MS Sans Serif");
    HyperlinkLabel1->Font()->SetSize(8);
    HyperlinkLabel1->Font()->SetColor(clRed);
    HyperlinkLabel1->Font()->SetStyle(TFontStyles{fsUnderline});
    HyperlinkLabel1->SetClickedHyperlinkColor(clPurple);
    HyperlinkLabel1->SetUseClickedHyperlinkColor(true);
    HyperlinkLabel1->SetHoverColor(clRed);
    HyperlinkLabel1->SetUseHoverColor(true);
    HyperlinkLabel1->SetHoverFontStyle(TFontStyles{fsUnderline});
    HyperlinkLabel1->SetUseHoverFontStyle(false);
}
