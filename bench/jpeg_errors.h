#pragma once

// libjpeg leaves a failing call through error_exit; the jump lands in the function that set it,
// which owns nothing with a destructor between the setjmp and the libjpeg calls.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace bench {

struct TJpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

inline void JpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<TJpegErrors*>(cinfo->err);
    errors->manager.format_message(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

} // namespace bench
