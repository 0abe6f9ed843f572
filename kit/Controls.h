#pragma once
// Every control of the layer: the core (TControl, TWinControl) and both families, for code that
// places controls on a form.

#include "kit/CommonControls.h"
#include "kit/Control.h"
#include "kit/StandardControls.h"
