#pragma once
// A window message as the layer's handlers see it: number, parameters, and the result that the
// window procedure returns.

#include <windows.h>

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};
