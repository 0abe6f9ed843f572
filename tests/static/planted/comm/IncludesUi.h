// Planted for the layer check: a component reaching across to a peer layer.
#include "ui/TrayIcon.h"
#include "kit/Events.h"
