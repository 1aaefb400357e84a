#include "image/CPngDecoder.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "image/PngChunks.h"

namespace {

// What libpng's callbacks share; plain data, since libpng leaves its errors
// by longjmp, which must not skip a destructor.
struct CReadState {
    const uint8_t* data;
    size_t size;
    size_t at;
    char message[160];
};

void readFromMemory(png_structp png, png_bytep out, size_t count)
{
    CReadState* state = static_cast<CReadState*>(png_get_io_ptr(png));
    if (count > state->size - state->at)
        png_error(png, "the data ends early");
    std::memcpy(out, state->data + state->at, count);
    state->at += count;
}

void onError(png_structp png, png_const_charp message)
{
    CReadState* state = static_cast<CReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings concern ancillary chunks (a wrong CRC, an unusable profile),
// which libpng then leaves out; the image itself is sound.
void onWarning(png_structp, png_const_charp) {}

// The libpng calls, between setjmp and any longjmp back to it: nothing here
// has a destructor. `rows` holds `height` row pointers when the rows are
// kept, else one row to decode each into in turn. False on an error.
bool readImage(png_structp png, png_infop info, bool keepRows, png_bytepp rows, uint32_t height, png_bytep* profile,
               png_uint_32* profileLength)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    if (keepRows) {
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_read_image(png, rows);
    } else {
        for (uint32_t y = 0; y < height; ++y)
            png_read_row(png, rows[0], nullptr);
    }
    png_read_end(png, info);
    png_charp name = nullptr;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, profile, profileLength) != PNG_INFO_iCCP)
        *profileLength = 0;
    return true;
}

// libpng's read and info structures, freed together.
struct CReadStruct {
    explicit CReadStruct(CReadState* state)
        : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, state, onError, onWarning)),
          info(png ? png_create_info_struct(png) : nullptr)
    {
    }
    ~CReadStruct()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    CReadStruct(const CReadStruct&) = delete;
    CReadStruct& operator=(const CReadStruct&) = delete;
    png_structp png;
    png_infop info;
};

// Whether the zlib stream of the image data runs whole to its end, Adler-32
// check included: libpng stops reading once it has every row, and takes
// damage after that for a warning.
bool imageDataIsWhole(const std::string& idat)
{
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    unsigned char scrap[16384];
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(idat.data()));
    zs.avail_in = static_cast<uInt>(idat.size()); // an image file is at most 2 GB
    int result = Z_OK;
    while (result == Z_OK) {
        zs.next_out = scrap;
        zs.avail_out = sizeof scrap;
        result = inflate(&zs, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR && zs.avail_out != 0)
            break; // the input ran out before the stream's end
        if (result == Z_BUF_ERROR)
            result = Z_OK;
    }
    inflateEnd(&zs);
    return result == Z_STREAM_END;
}

} // namespace

CPngDecoder::CPngDecoder(const std::string& file, const PngInfo& info, bool keepRows)
{
    const uint64_t rowBits = uint64_t(info.width) * uint64_t(info.channels()) * uint64_t(info.bitDepth);
    m_rowBytes = static_cast<size_t>((rowBits + 7) / 8);
    if (rowBits > uint64_t(kMaxImageBytes) * 8 || uint64_t(m_rowBytes) * info.height > kMaxImageBytes) {
        m_problem = "the image is too large";
        return;
    }
    m_rows.resize(m_rowBytes * (keepRows ? info.height : 1));
    std::vector<png_bytep> rows(keepRows ? info.height : 1);
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = m_rows.data() + y * m_rowBytes;

    CReadState state{reinterpret_cast<const uint8_t*>(file.data()), file.size(), 0, {}};
    CReadStruct read(&state);
    if (!read.png || !read.info) {
        m_problem = "out of memory";
        return;
    }
    png_set_read_fn(read.png, &state, readFromMemory);
    // The chunk walker has bounded the size; libpng's own cap is a million pixels a side.
    png_set_user_limits(read.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (!readImage(read.png, read.info, keepRows, rows.data(), info.height, &profile, &profileLength)) {
        m_problem = state.message[0] ? state.message : "damaged data";
        m_rows.clear();
        return;
    }
    if (!imageDataIsWhole(info.idat)) {
        m_problem = "the compressed image data is damaged";
        m_rows.clear();
        return;
    }
    if (profileLength > 0)
        m_icc.assign(reinterpret_cast<const char*>(profile), profileLength);
    if (!keepRows)
        m_rows.clear();
}
