#include "app/fMain.h"
#include "platform/core/files.h"

#include <memory>

namespace {

constexpr const char* DataFolder = ".\\DATA\\";
constexpr const char* AcceptedExtensions = ".BMP;.JPG;.JPEG;";

} // namespace

// The picture files of the data folder, as ".\DATA\" followed by the upper-cased name. A folder
// that is missing or cannot be searched gives an empty list. The caller owns the list.
TStringList* TForm1::ListImageFiles(bool sorted) {
    auto files = std::make_unique<TStringList>();
    TSearchRec searchRec;
    if (FindFirst(AnsiString(DataFolder) + "*.*", faAnyFile, searchRec) == 0) {
        do {
            const AnsiString path = AnsiString(DataFolder) + searchRec.Name.UpperCase();
            const AnsiString extension = ExtractFileExt(path);
            // The empty extension is tested first: ";" alone occurs in the list.
            if (!extension.IsEmpty() && AnsiString(AcceptedExtensions).Pos(extension + ";") > 0)
                files->Add(path);
        } while (FindNext(searchRec) == 0);
    }
    FindClose(searchRec);
    files->SetSorted(sorted);
    return files.release();
}
