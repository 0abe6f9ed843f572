// The About box. A placeholder for now: an empty window shown modally.

#include "ui/Unit3.h"

TfrmAbout* frmAbout = nullptr;

TfrmAbout::TfrmAbout(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmAbout");
    SetCaption("About Orvela Cardwick");
    SetBounds(438, 237, 342, 238);
}
