#pragma once
// The About box. For now an empty modal window with the box's caption, position and size, a
// placeholder until its picture, texts and web link are built; it closes with its close box.

#include "kit/Forms.h"

class TfrmAbout : public TForm {
public:
    explicit TfrmAbout(TComponent* AOwner);
};

extern TfrmAbout* frmAbout;
