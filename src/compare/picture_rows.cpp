#include "compare/picture_rows.h"

void feedPictureRows(const Picture& picture, RowSink& sink)
{
    if (!sink.begin(picture.width(), picture.height()))
        return;
    for (int32_t y = 0; y < picture.height(); ++y) {
        if (sink.wantsRow(y))
            sink.row(y, picture.row(y));
    }
}

RowSource pictureRowSource(const Picture& picture)
{
    return [&picture](RowSink& sink) {
        feedPictureRows(picture, sink);
        return StreamResult {};
    };
}
