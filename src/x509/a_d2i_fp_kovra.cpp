#include "x509/a_d2i_fp_kovra.h"

#include <openssl/err.h>

#include <climits>
#include <cstdint>

namespace zorbelu::x509 {
namespace {

constexpr size_t kHeaderReadSize = 8;
constexpr size_t kFirstChunk = 16 * 1024;

// Each failing check has its own line number in the record, so that a
// report tells which check failed. OpenSSL 3 keeps no function codes; the
// function is named by text instead.
void PutError(int reason, int line) {
    ERR_new();
    ERR_set_debug(kDerReaderFile, line, "der_read_bio");
    ERR_set_error(kDerReaderLibrary, reason, "function %d", kDerReaderFunction);
}

struct Reader {
    BIO* in;
    BUF_MEM* b;
    size_t len = 0;  // bytes held
    size_t off = 0;  // bytes consumed by parsed headers and contents
    uint32_t eos = 0;  // open indefinite-length constructions

    // Makes sure at least a header's worth of unparsed bytes is held, as far
    // as the stream has them. A stream may hand out less than asked for, down
    // to one byte per read, so reads go on until the window is full or the
    // stream has nothing more to give.
    bool FillForHeader() {
        const size_t held = len - off;
        if (held > kHeaderReadSize) return true;
        const size_t want = off + kHeaderReadSize;
        if (want < off || BUF_MEM_grow_clean(b, want) == 0) return PutError(kReasonMallocFailure, 135), false;
        while (len < want) {
            const int read = BIO_read(in, b->data + len, static_cast<int>(want - len));
            if (read < 0 && len == off) return PutError(kReasonNotEnoughData, 140), false;
            if (read <= 0) break;
            if (len + static_cast<size_t>(read) < len) return PutError(kReasonTooLong, 145), false;
            len += static_cast<size_t>(read);
        }
        return true;
    }

    // Reads the `missing` content bytes in chunks that start at 16 KiB and
    // double, so a length the stream does not back costs little memory.
    bool ReadContent(size_t missing) {
        size_t chunkLimit = kFirstChunk;
        while (missing > 0) {
            size_t chunk = missing < chunkLimit ? missing : chunkLimit;
            if (BUF_MEM_grow_clean(b, len + chunk) == 0) return PutError(kReasonMallocFailure, 205), false;
            missing -= chunk;
            while (chunk > 0) {
                const int read = BIO_read(in, b->data + len, static_cast<int>(chunk));
                if (read < 1) return PutError(kReasonNotEnoughData, 213), false;
                len += static_cast<size_t>(read);
                chunk -= static_cast<size_t>(read);
            }
            if (chunkLimit < INT_MAX / 2) chunkLimit *= 2;
        }
        return true;
    }

    // Parses one header; false on failure, `done` when the object is complete.
    bool Step(bool& done) {
        if (!FillForHeader()) return false;
        const unsigned char* start = reinterpret_cast<unsigned char*>(b->data) + off;
        const unsigned char* p = start;
        long slen = 0;
        int tag = 0, xclass = 0;
        const int inf = ASN1_get_object(&p, &slen, &tag, &xclass, static_cast<long>(len - off));
        if ((inf & 0x80) != 0) {
            // A complete header whose contents are not held yet is fine.
            if (ERR_GET_REASON(ERR_peek_error()) != kReasonTooLong) return false;
            ERR_clear_error();
        }
        off += static_cast<size_t>(p - start);
        if ((inf & 1) != 0) {
            if (eos == UINT32_MAX) return PutError(kReasonHeaderTooLong, 171), false;
            ++eos;
            return true;
        }
        if (eos > 0 && slen == 0 && tag == V_ASN1_EOC) {
            done = --eos == 0;
            return true;
        }
        const size_t contentLength = static_cast<size_t>(slen);
        const size_t held = len - off;
        if (contentLength > held) {
            const size_t missing = contentLength - held;
            if (missing > INT_MAX || len + missing < len) return PutError(kReasonTooLong, 192), false;
            if (!ReadContent(missing)) return false;
        }
        if (off + contentLength < off) return PutError(kReasonTooLong, 228), false;
        off += contentLength;
        done = eos == 0;
        return true;
    }
};

}  // namespace

int der_read_bio(BIO* in, BUF_MEM** out) {
    BUF_MEM* b = BUF_MEM_new();
    if (b == nullptr) {
        PutError(kReasonMallocFailure, 125);
        return -1;
    }
    ERR_clear_error();
    Reader reader{in, b};
    bool done = false;
    while (!done) {
        if (!reader.Step(done)) {
            BUF_MEM_free(b);
            return -1;
        }
    }
    if (reader.off > INT_MAX) {
        PutError(kReasonTooLong, 240);
        BUF_MEM_free(b);
        return -1;
    }
    *out = b;
    return static_cast<int>(reader.off);
}

ASN1_VALUE* der_item_d2i_bio(const ASN1_ITEM* item, BIO* in, ASN1_VALUE** reuse) {
    BUF_MEM* b = nullptr;
    const int length = der_read_bio(in, &b);
    ASN1_VALUE* result = nullptr;
    if (length >= 0) {
        const unsigned char* p = reinterpret_cast<unsigned char*>(b->data);
        result = ASN1_item_d2i(reuse, &p, length, item);
    }
    BUF_MEM_free(b);
    return result;
}

X509* der_x509_d2i_bio(BIO* in, X509** reuse) {
    return reinterpret_cast<X509*>(
        der_item_d2i_bio(ASN1_ITEM_rptr(X509), in, reinterpret_cast<ASN1_VALUE**>(reuse)));
}

}  // namespace zorbelu::x509
