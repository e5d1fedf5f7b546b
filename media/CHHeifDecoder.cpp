#include "media/CHHeifDecoder.h"

#include "media/CHHeifContainer.h"
#include "media/CHPixels.h"

#include <libheif/heif.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

thread_local std::string t_lastError;

// libheif's codecs are registered once for the process and released at its end.
class HeifLibrary {
public:
    HeifLibrary() { heif_init(nullptr); }
    ~HeifLibrary() { heif_deinit(); }
    static void Ensure() { static HeifLibrary library; }
};

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleFree {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageFree {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

bool Fail(const std::string& why) {
    t_lastError = why;
    return false;
}

bool Fail(const char* what, const heif_error& error) {
    return Fail(std::string(what) + ": " + (error.message ? error.message : "unknown error"));
}

// The displayed size of an item of the container: ispe turned by its own rotation.
void DisplayedSize(const CHHeifContainer::Item& item, int64_t& width, int64_t& height) {
    const bool swap = (item.quarterTurns & 1) != 0;
    width = swap ? item.height : item.width;
    height = swap ? item.width : item.height;
}

// The smallest embedded thumbnail of the primary image that still gives the caller at least
// the pixels it asked for and has the primary's shape; 0 when none does.
heif_item_id ChooseThumbnail(const CHHeifContainer& container, const DecodeRequest& request,
                             int64_t fullWidth, int64_t fullHeight) {
    if (!request.minScale) {
        return 0;
    }
    const double scale = request.minScale(int(fullWidth), int(fullHeight), 1);
    if (!(scale > 0) || scale >= 1) {
        return 0;
    }
    heif_item_id best = 0;
    int64_t bestPixels = 0;
    for (const CHHeifContainer::Item* thumb : container.Thumbnails()) {
        int64_t width = 0;
        int64_t height = 0;
        DisplayedSize(*thumb, width, height);
        // Rounding of a side by one pixel is expected; a different shape is not.
        const bool sameShape = std::abs(double(width) / fullWidth - double(height) / fullHeight) <
                               2.0 / std::min(width, height);
        const bool enough = width + 0.5 >= scale * fullWidth && height + 0.5 >= scale * fullHeight;
        if (sameShape && enough && (best == 0 || width * height < bestPixels)) {
            best = thumb->id;
            bestPixels = width * height;
        }
    }
    return best;
}

// Interleaved 8-bit RGB or RGBA rows into the bitmap (premultiplied at 32 bits).
bool CopyPixels(const heif_image* image, bool alpha, CHBitmap& bitmap) {
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    if (plane == nullptr || width <= 0 || height <= 0 ||
        !CHImageDecoder::SizeAllowed(width, height) || stride < width * (alpha ? 4 : 3) ||
        !bitmap.Create(width, height, alpha ? 32 : 24)) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = plane + static_cast<size_t>(stride) * y;
        uint32_t* out = bitmap.Row(y);
        for (int x = 0; x < width; ++x) {
            const uint32_t a = alpha ? in[3] : 0xFF;
            out[x] = a << 24 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
            in += alpha ? 4 : 3;
        }
    }
    if (alpha) {
        CHPixels::Premultiply(bitmap);
    }
    return true;
}

bool DecodeHandle(heif_image_handle* handle, CHBitmap& bitmap) {
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options) {
        return Fail("out of memory");
    }
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* raw = nullptr;
    heif_error error = heif_decode_image(
        handle, &raw, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    Image image(raw);
    if (error.code != heif_error_Ok || !image) {
        return Fail("cannot decode the image", error);
    }
    return CopyPixels(image.get(), alpha, bitmap) || Fail("decoded image has no usable pixels");
}

} // namespace

bool CHHeifDecoder::Decode(std::string_view bytes, const DecodeRequest& request,
                           DecodedImage& out) {
    t_lastError.clear();
    out.orientation = 1;
    CHHeifContainer container;
    if (container.Parse(bytes, true) != CHHeifContainer::Status::Ok) {
        return Fail("not a well-formed HEIF file");
    }
    const CHHeifContainer::Item& primary = container.Primary();
    if (!CHImageDecoder::SizeAllowed(primary.width, primary.height)) {
        return Fail("image too large");
    }
    HeifLibrary::Ensure();
    Context context(heif_context_alloc());
    if (!context) {
        return Fail("out of memory");
    }
    // Thumbnails are made on several threads at once already.
    heif_context_set_max_decoding_threads(context.get(), 0);
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                                  bytes.size(), nullptr);
    if (error.code != heif_error_Ok) {
        return Fail("cannot read the container", error);
    }
    heif_image_handle* raw = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &raw);
    Handle main(raw);
    if (error.code != heif_error_Ok) {
        return Fail("no primary image", error);
    }
    // The size after the file's own crop and rotation, as libheif will deliver it.
    const int64_t fullWidth = heif_image_handle_get_width(main.get());
    const int64_t fullHeight = heif_image_handle_get_height(main.get());
    if (!CHImageDecoder::SizeAllowed(fullWidth, fullHeight)) {
        return Fail("image too large");
    }
    Handle chosen;
    if (heif_item_id thumbId = ChooseThumbnail(container, request, fullWidth, fullHeight)) {
        heif_image_handle* thumb = nullptr;
        if (heif_image_handle_get_thumbnail(main.get(), thumbId, &thumb).code == heif_error_Ok) {
            chosen.reset(thumb);
        }
    }
    if (chosen && !DecodeHandle(chosen.get(), out.bitmap)) {
        chosen.reset(); // a broken thumbnail: the primary image may still decode
    }
    if (!chosen && !DecodeHandle(main.get(), out.bitmap)) {
        return false;
    }
    out.fullWidth = static_cast<int>(fullWidth);
    out.fullHeight = static_cast<int>(fullHeight);
    return true;
}

const std::string& CHHeifDecoder::LastError() {
    return t_lastError;
}

bool CHHeifDecoder::CanDecodeHevc() {
    HeifLibrary::Ensure();
    return heif_have_decoder_for_format(heif_compression_HEVC) != 0;
}

bool CHHeifDecoder::CanDecodeAv1() {
    HeifLibrary::Ensure();
    return heif_have_decoder_for_format(heif_compression_AV1) != 0;
}
