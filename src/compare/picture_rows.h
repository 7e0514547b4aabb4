#pragma once

#include <functional>

#include "picture/picture.h"
#include "picture/picture_stream.h"

// Something that streams one picture's rows into a sink, as often as asked:
// a file through a PictureStreamer, or a picture already in memory. A
// reduction that must look at a picture twice streams it twice.
using RowSource = std::function<StreamResult(RowSink& sink)>;

// Hands a decoded picture's rows to a sink as a decoder would: the size, then
// the wanted rows top-down.
void feedPictureRows(const Picture& picture, RowSink& sink);

// A source over a decoded picture, which must outlive it.
RowSource pictureRowSource(const Picture& picture);
