#pragma once

#include "platform/core/ansi_string.h"

#include <cstdint>
#include <memory>

// Paths are written as on the platform the program was designed for: "\" separates folders, and a
// name is found whatever its letter case (see path_resolution.h). Any thread may call these.

constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

struct TFindState;

// One folder search; the state between FindFirst, FindNext and FindClose.
struct TSearchRec {
    TSearchRec();
    ~TSearchRec();
    TSearchRec(const TSearchRec&) = delete;
    TSearchRec& operator=(const TSearchRec&) = delete;

    AnsiString Name; // the entry's name, without its folder
    int Attr = 0;
    std::int64_t Size = 0;
    std::unique_ptr<TFindState> FindHandle;
};

// 0 when an entry matched the pattern and the attribute mask; any other value when none did or the
// folder cannot be searched. The folder's entries for itself and its parent come first.
int FindFirst(const AnsiString& pattern, int attributes, TSearchRec& searchRec);
int FindNext(TSearchRec& searchRec);
void FindClose(TSearchRec& searchRec);

// True for a regular file or a link to one; false for a folder, a device, a FIFO or a dangling
// link.
bool FileExists(const AnsiString& fileName);
// From the last "." to the end, when no "\" or ":" follows it; otherwise empty.
AnsiString ExtractFileExt(const AnsiString& fileName);
// The part after the last "\" or ":".
AnsiString ExtractFileName(const AnsiString& fileName);
