// Facts about the target's records that the program relies on. The checks are compiled, not run:
// the 32-bit release proves them when it builds, with no Windows to run on.

// <string> first on purpose: in the 32-bit MinGW toolchain it makes std::max_align_t 16-aligned,
// where <windows.h> first makes it 8-aligned. A component class whose layout followed it would be
// laid out differently by different files of the program.
#include <string>

#include "kit/Controls.h"

#include <windows.h>

#include <cstddef>
#include <shellapi.h>

// The tray icon is told about with the first form of its record, which every shell accepts: 88
// bytes in a 32-bit program, 104 in a 64-bit one. The record ends with a 64-byte tip, the only tip
// the icon writes, and the identifier the icons are numbered with is 32 bits wide on both.
constexpr std::size_t ExpectedTrayRecordSize = sizeof(void*) == 4 ? 88 : 104;
static_assert(NOTIFYICONDATAA_V1_SIZE == ExpectedTrayRecordSize, "the first form of the tray record");
static_assert(offsetof(NOTIFYICONDATAA, szTip) + 64 == NOTIFYICONDATAA_V1_SIZE,
              "the first form's tip is 64 bytes and ends the record");
static_assert(sizeof(NOTIFYICONDATAA::uID) == 4, "icons are numbered, not known by their address");

// Every file must agree on the component classes' layout, whatever it includes first: an event, which
// every component holds, is aligned like the pointers it is made of.
static_assert(alignof(TNotifyEvent) == alignof(void*), "an event's layout follows std::max_align_t");
