// The settings dialog. A placeholder for now: an empty window shown modally, with nothing to edit.

#include "settings/Unit2.h"

TfrmProperties* frmProperties = nullptr;

TfrmProperties::TfrmProperties(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmProperties");
    SetCaption("Properties");
    SetBounds(436, 211, 240, 376);
}
