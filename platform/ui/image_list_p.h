#pragma once

// Private to the platform: the images behind a TImageList.

#include <QImage>
#include <QObject>
#include <QSize>

#include <vector>

// The list's own copies, one QImage each (24-bit, 3 bytes a pixel: a pixmap would take 4). List
// views read them when they paint and listen for Changed to repaint.
class TImageStore : public QObject {
    Q_OBJECT

public:
    QSize size{16, 16};
    std::vector<QImage> images;

    const QImage* Find(int index) const {
        return index >= 0 && index < static_cast<int>(images.size())
                   ? &images[static_cast<std::size_t>(index)]
                   : nullptr;
    }

signals:
    // Images were added or removed; sizeChanged when their size changed too.
    void Changed(bool sizeChanged);
};

class TImageList;

// The images that a list holds.
TImageStore& ImageStoreOf(const TImageList& list);
