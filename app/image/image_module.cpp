// The image codec module's entry: TIFF through libtiff, EXR through OpenEXR.
#include "app/image/image_codecs.h"

namespace dunsmere {

extern "C" __attribute__((visibility("default"))) const ImageCodecTable* DunsmereImageCodecs()
{
    static constexpr ImageCodecTable kTable{&WriteTiff, &WriteExr, &ReadTiff, &ReadExr};
    return &kTable;
}

}  // namespace dunsmere
