// Planted for the layer check: the reader protocol reaching up into the program.
#include "app/Unit1.h"
