#include "raster/jpeg_guard.hpp"

namespace georef::raster {

namespace {

void ExitWithMessage(j_common_ptr cinfo) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

}  // namespace

void InitErrors(ErrorManager& errors) noexcept {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ExitWithMessage;
    errors.message[0] = '\0';
}

bool RunGuarded(ErrorManager& errors, void (*step)(void*), void* context) noexcept {
    if (setjmp(errors.jump) != 0) {
        return false;
    }
    step(context);
    return true;
}

}  // namespace georef::raster
