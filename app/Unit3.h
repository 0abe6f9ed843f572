#pragma once
// The About box: the product's name and version, a copyright line and a web link. Pure layout,
// created hidden at start-up and shown modally, the same instance every time, so a visited link
// stays visited for the whole run.

#include "kit/Controls.h"
#include "kit/Forms.h"
#include "ui/HyperlinkLabel.h"

class TfrmAbout : public TForm {
public:
    explicit TfrmAbout(TComponent* AOwner);

    // Published components, in their designed order. The form owns them all.
    TPanel* Panel1;
    TImage* ProgramIcon;
    TLabel* ProductName;
    TLabel* Version;
    TLabel* Copyright;
    TLabel* Comments;
    TButton* OKButton;
    THyperlinkLabel* HyperlinkLabel1;
};

extern TfrmAbout* frmAbout;
