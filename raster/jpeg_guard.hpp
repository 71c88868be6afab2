#pragma once
// libjpeg's fatal errors caught for the raster's JPEG readers and writer:
// the library's message is kept and the step that failed returns false,
// instead of the library ending the process.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace georef::raster {

// libjpeg's standard error manager (messages, warnings on stderr) with a
// fatal-error exit that keeps the message and jumps back to RunGuarded.
struct ErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void InitErrors(ErrorManager& errors) noexcept;

// Runs step(context) and tells whether libjpeg let it finish. This is the
// only setjmp of the program: neither this frame nor any step holds an
// object with a destructor, so the jump back from a fatal error skips no
// cleanup. The caller destroys the libjpeg object and throws.
bool RunGuarded(ErrorManager& errors, void (*step)(void*), void* context) noexcept;

}  // namespace georef::raster
