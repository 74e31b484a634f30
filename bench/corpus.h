#pragma once

// The bench's pictures, made deterministically into a cache folder and reused while their recipe
// and their content source stay the same.

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct TCorpusSize {
    int photos = 60;         // 12-megapixel pictures, each as JPEG and as BMP
    int smallPictures = 300; // about 640 by 480, half JPEG, half BMP
    int manyPictures = 10000;
    int fewPictures = 100;
    bool hugeJpeg = true; // the 100-megapixel JPEG
    // Made-up content even where photographs are installed.
    bool synthetic = false;
};

// Each folder holds a DATA folder, as the programs read it from their current directory.
struct TCorpus {
    std::filesystem::path root;
    std::filesystem::path photosJpeg; // <root>/photos-jpeg, DATA/P000.JPG ...
    std::filesystem::path photosBmp;  // <root>/photos-bmp, DATA/P000.BMP ...
    std::filesystem::path small;      // <root>/small
    std::filesystem::path many;       // <root>/many: hard links to the small pictures
    std::filesystem::path few;        // <root>/few: the first fewPictures of many
    std::filesystem::path hugeJpeg;   // empty when not made
    // <root>/sparse/DATA/SPARSE.BMP: an RLE8 bitmap of about 1 KB that declares 11585 x 11585
    // pixels, the largest square picture the loaders accept.
    std::filesystem::path sparseRle;
    // Where the photographic content came from, for the report.
    std::string content;
};

// The pictures of a corpus folder's DATA, sorted by name.
std::vector<std::filesystem::path> PicturesIn(const std::filesystem::path& folder);

// Makes what is missing of the corpus under root, printing progress; throws std::runtime_error.
TCorpus PrepareCorpus(const std::filesystem::path& root, const TCorpusSize& size);

} // namespace bench
