// The streaming DER reader fed through a BIO that hands out random-sized
// pieces: the first input byte seeds the piece sizes, the rest is the stream.
#include <openssl/bio.h>
#include <openssl/err.h>

#include <cstdint>
#include <cstring>

#include "x509/a_d2i_fp_kovra.h"

namespace {

struct Stream {
    const uint8_t* data;
    size_t size;
    size_t position;
    uint32_t state;
};

int ReadPiece(BIO* bio, char* out, int size) {
    auto* s = static_cast<Stream*>(BIO_get_data(bio));
    if (s->position == s->size) return 0;
    s->state = s->state * 1103515245u + 12345u;
    size_t piece = 1 + (s->state >> 16) % 64;
    if (piece > static_cast<size_t>(size)) piece = static_cast<size_t>(size);
    if (piece > s->size - s->position) piece = s->size - s->position;
    std::memcpy(out, s->data + s->position, piece);
    s->position += piece;
    return static_cast<int>(piece);
}

BIO_METHOD* PieceMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "fuzz pieces");
        BIO_meth_set_read(m, ReadPiece);
        return m;
    }();
    return method;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Stream stream{data + 1, size - 1, 0, data[0]};
    BIO* bio = BIO_new(PieceMethod());
    BIO_set_data(bio, &stream);
    BIO_set_init(bio, 1);
    BUF_MEM* buffer = nullptr;
    const int length = zorbelu::x509::der_read_bio(bio, &buffer);
    if (length >= 0) {
        // The object lies within what the stream held.
        if (static_cast<size_t>(length) > stream.size || buffer->length < static_cast<size_t>(length)) __builtin_trap();
        BUF_MEM_free(buffer);
    }
    BIO_free(bio);
    ERR_clear_error();
    return 0;
}
