#pragma once
// HEIF and AVIF decoding with libheif, after our own container check. The image comes out
// upright: libheif applies the file's own rotation and mirroring (irot, imir), and the EXIF
// orientation, which in these files only repeats them, is reported as 1 so it is not applied a
// second time. When the caller can use a reduced scale, an embedded thumbnail that still has
// enough pixels is decoded instead of the primary image.

#include "media/CHImageDecoder.h"

#include <string>

class CHHeifDecoder {
public:
    static bool Decode(std::string_view bytes, const DecodeRequest& request, DecodedImage& out);
    // Why the last Decode on this thread failed, for messages ("" after a success).
    static const std::string& LastError();
    // True when libheif can decode HEVC (HEIC) or AV1 (AVIF) images.
    static bool CanDecodeHevc();
    static bool CanDecodeAv1();
};
