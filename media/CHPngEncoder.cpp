#include "media/CHPngEncoder.h"

#include "media/CHPixels.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace {

struct PngWriteJob {
    const CHBitmap* bitmap = nullptr;
    std::string* out = nullptr;
    std::vector<png_byte>* row = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

void WriteFn(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<PngWriteJob*>(png_get_io_ptr(png));
    job->out->append(reinterpret_cast<const char*>(data), length);
}

void FlushFn(png_structp) {}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

bool EncodeCore(PngWriteJob* job) {
    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, ErrorFn, WarningFn);
    if (job->png == nullptr) {
        return false;
    }
    job->info = png_create_info_struct(job->png);
    if (job->info == nullptr) {
        png_destroy_write_struct(&job->png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        png_destroy_write_struct(&job->png, &job->info);
        return false;
    }
    const CHBitmap& bitmap = *job->bitmap;
    const bool alpha = bitmap.BitsPerPixel() == 32;
    png_set_write_fn(job->png, job, WriteFn, FlushFn);
    png_set_IHDR(job->png, job->info, static_cast<png_uint_32>(bitmap.Width()),
                 static_cast<png_uint_32>(bitmap.Height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(job->png, job->info);
    png_byte* row = job->row->data();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint32_t* in = bitmap.Row(y);
        png_byte* o = row;
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = alpha ? CHPixels::Unpremultiply(in[x]) : in[x];
            *o++ = static_cast<png_byte>(p >> 16);
            *o++ = static_cast<png_byte>(p >> 8);
            *o++ = static_cast<png_byte>(p);
            if (alpha) {
                *o++ = static_cast<png_byte>(p >> 24);
            }
        }
        png_write_row(job->png, row);
    }
    png_write_end(job->png, job->info);
    png_destroy_write_struct(&job->png, &job->info);
    return true;
}

} // namespace

bool CHPngEncoder::Encode(const CHBitmap& bitmap, std::string& out) {
    out.clear();
    if (bitmap.IsEmpty()) {
        return false;
    }
    std::vector<png_byte> row(static_cast<size_t>(bitmap.Width()) * 4);
    PngWriteJob job;
    job.bitmap = &bitmap;
    job.out = &out;
    job.row = &row;
    if (!EncodeCore(&job)) {
        out.clear();
        return false;
    }
    return true;
}
