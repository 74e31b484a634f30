#include "app/fMain.h"
#include "platform/core/file_stream.h"
#include "platform/core/files.h"

#include <memory>

// -1: skip; 0: load as a bitmap; 1: load as a JPEG picture. Judged by the path's text, which the
// scan upper-cased; a JPG or JPEG file that starts with the bitmap signature is a bitmap.
int TForm1::ProbeImageKind(AnsiString path) {
    if (!FileExists(path))
        return -1;
    if (path.Pos(".BMP") > 0)
        return 0;
    if (path.Pos("JPG") > 0 || path.Pos("JPEG") > 0) {
        auto stream = std::make_unique<TFileStream>(path, fmOpenRead);
        char signature[2] = {};
        if (stream->Read(signature, sizeof signature) != sizeof signature)
            return -1;
        return AnsiString(std::string(signature, sizeof signature)).UpperCase() == "BM" ? 0 : 1;
    }
    return -1;
}
