#include "media/CHJpegDecoder.h"

#include "media/CHJpegDcDecoder.h"
#include "media/CHOrientation.h"

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Everything the decoding routine touches lives here, outside the frame that calls setjmp, so
// nothing with a destructor is skipped by longjmp and no local is read after it.
struct JpegJob {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    jpeg_progress_mgr progress{};
    jmp_buf jump;
    std::string_view bytes;
    const DecodeRequest* request = nullptr;
    DecodedImage* out = nullptr;
    int orientation = 1;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* job = static_cast<JpegJob*>(cinfo->client_data);
    longjmp(job->jump, 1);
}

void OutputMessage(j_common_ptr) {}

// Warnings that mean the image data is cut short or damaged end the decoding: a half-grey
// thumbnail must not be stored in place of the real one.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;
    }
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
        ErrorExit(cinfo);
    default:
        cinfo->err->num_warnings++;
        break;
    }
}

void Progress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > CHJpegDecoder::kMaxScans) {
        ErrorExit(cinfo);
    }
}

// The smallest M in 1..8 whose M/8 scale keeps at least minScale of the image both ways.
int ChooseScale(uint64_t width, uint64_t height, double minScale) {
    for (int m = 1; m < 8; ++m) {
        uint64_t w = (width * m + 7) / 8;
        uint64_t h = (height * m + 7) / 8;
        if (w + 1e-9 >= width * minScale && h + 1e-9 >= height * minScale) {
            return m;
        }
    }
    return 8;
}

inline uint32_t Clamp8(int v) {
    return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

bool DecodeCore(JpegJob* job) {
    j_decompress_ptr cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->err);
    job->err.error_exit = ErrorExit;
    job->err.emit_message = EmitMessage;
    job->err.output_message = OutputMessage;
    cinfo->client_data = job;
    if (setjmp(job->jump)) {
        jpeg_destroy_decompress(cinfo);
        job->out->bitmap.Release();
        return false;
    }
    jpeg_create_decompress(cinfo);
    job->progress.progress_monitor = Progress;
    cinfo->progress = &job->progress;
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(job->bytes.data()),
                 static_cast<unsigned long>(job->bytes.size()));
    jpeg_read_header(cinfo, TRUE);
    if (!CHImageDecoder::SizeAllowed(cinfo->image_width, cinfo->image_height)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    job->out->fullWidth = static_cast<int>(cinfo->image_width);
    job->out->fullHeight = static_cast<int>(cinfo->image_height);
    int m = 8;
    if (job->request->minScale) {
        double minScale =
            job->request->minScale(job->out->fullWidth, job->out->fullHeight, job->orientation);
        m = ChooseScale(cinfo->image_width, cinfo->image_height, minScale);
    }
    cinfo->scale_num = static_cast<unsigned>(m);
    cinfo->scale_denom = 8;
    cinfo->dct_method = JDCT_ISLOW;
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 4 ||
        !job->out->bitmap.Create(static_cast<int>(cinfo->output_width),
                                 static_cast<int>(cinfo->output_height), 24)) {
        jpeg_destroy_decompress(cinfo);
        job->out->bitmap.Release();
        return false;
    }
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk) {
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width * 4, 1);
    }
    // Adobe writes CMYK inverted (0 = full ink); plain CMYK files are the other way round.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        uint32_t* row = job->out->bitmap.Row(static_cast<int>(cinfo->output_scanline));
        JSAMPROW target = cmyk ? cmykRow[0] : reinterpret_cast<JSAMPROW>(row);
        if (jpeg_read_scanlines(cinfo, &target, 1) != 1) {
            break;
        }
        if (cmyk) {
            const JSAMPLE* s = cmykRow[0];
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x, s += 4) {
                int c = inverted ? s[0] : 255 - s[0];
                int mm = inverted ? s[1] : 255 - s[1];
                int y = inverted ? s[2] : 255 - s[2];
                int k = inverted ? s[3] : 255 - s[3];
                row[x] = 0xFF000000u | Clamp8(c * k / 255) << 16 | Clamp8(mm * k / 255) << 8 |
                         Clamp8(y * k / 255);
            }
        }
    }
    const bool complete = cinfo->output_scanline == cinfo->output_height;
    // Whatever follows the image data (a missing end marker, trailing bytes) does not matter.
    jpeg_destroy_decompress(cinfo);
    if (!complete) {
        job->out->bitmap.Release();
    }
    return complete;
}

} // namespace

bool CHJpegDecoder::Decode(std::string_view bytes, const DecodeRequest& request,
                           DecodedImage& out) {
    JpegJob job;
    job.bytes = bytes;
    job.request = &request;
    job.out = &out;
    job.orientation = request.wantOrientation ? CHOrientation::FromJpeg(bytes) : 1;
    if (request.minScale) {
        auto eighth = [&](int width, int height) {
            return CHImageDecoder::SizeAllowed(width, height) &&
                   ChooseScale(uint64_t(width), uint64_t(height),
                               request.minScale(width, height, job.orientation)) == 1;
        };
        int width = 0;
        int height = 0;
        if (CHJpegDcDecoder::Decode(bytes, eighth, out.bitmap, width, height)) {
            out.fullWidth = width;
            out.fullHeight = height;
            out.orientation = job.orientation;
            return true;
        }
        out.bitmap.Release();
    }
    if (!DecodeCore(&job)) {
        return false;
    }
    out.orientation = job.orientation;
    return true;
}
