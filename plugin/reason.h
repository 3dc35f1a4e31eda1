// Why a call failed, in a record of the call's own: the first failure's
// reason is kept and later ones are not, as zlib keeps `msg`. Every place
// that refuses a file says why, with where it happened ("layer 3 "Shadow":
// tile 17 of 96: RLE data ends early at byte 123456").
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace tessel {

#if defined(__GNUC__) && !defined(_WIN32)
#define TESSEL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define TESSEL_PRINTF(f, a)
#endif

struct Reason {
  char text[256];  // empty while nothing has failed
};

inline bool ReasonKept(const Reason* reason) { return reason != nullptr && reason->text[0] != '\0'; }

// Keeps the reason, unless one is kept already; nothing without a record.
void ReasonNote(Reason* reason, const char* format, ...) TESSEL_PRINTF(2, 3);
void ReasonNoteV(Reason* reason, const char* format, va_list args);
// Puts where a failure happened before the reason just kept.
void ReasonPrefix(Reason* reason, const char* format, ...) TESSEL_PRINTF(2, 3);
// Copies a reason kept elsewhere (another thread's) unless one is kept.
void ReasonTake(Reason* reason, const Reason& from);

// Text taken from the file (a layer's name), fit for a reason: printable
// ASCII as it is, other bytes as \xNN, cut after 40 characters.
struct Quoted {
  char text[4 * 40 + 4];
};
Quoted Quote(const char* text);

}  // namespace tessel
