// A stream that announces 2 GB but holds 100 bytes must fail after a small
// allocation. This program counts every byte OpenSSL allocates, so it sets
// its allocator before OpenSSL starts and links the reader alone.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "x509/a_d2i_fp_kovra.h"

namespace {

size_t live = 0;
size_t peak = 0;

struct Header {
    size_t size;
    size_t pad;
};

void Account(long change) {
    live = static_cast<size_t>(static_cast<long>(live) + change);
    if (live > peak) peak = live;
}

void* CountedMalloc(size_t size, const char*, int) {
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (h == nullptr) return nullptr;
    h->size = size;
    Account(static_cast<long>(size));
    return h + 1;
}

void CountedFree(void* p, const char*, int) {
    if (p == nullptr) return;
    Header* h = static_cast<Header*>(p) - 1;
    Account(-static_cast<long>(h->size));
    std::free(h);
}

void* CountedRealloc(void* p, size_t size, const char* file, int line) {
    if (p == nullptr) return CountedMalloc(size, file, line);
    Header* old = static_cast<Header*>(p) - 1;
    const size_t oldSize = old->size;
    auto* h = static_cast<Header*>(std::realloc(old, sizeof(Header) + size));
    if (h == nullptr) return nullptr;
    h->size = size;
    Account(static_cast<long>(size) - static_cast<long>(oldSize));
    return h + 1;
}

}  // namespace

int main() {
    if (CRYPTO_set_mem_functions(CountedMalloc, CountedRealloc, CountedFree) != 1) {
        std::puts("could not install the counting allocator");
        return 1;
    }
    // A SEQUENCE announcing 0x7FFFFFF0 bytes, then 94 bytes of content.
    std::vector<unsigned char> stream = {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xF0};
    stream.resize(100, 0x41);
    BIO* bio = BIO_new_mem_buf(stream.data(), static_cast<int>(stream.size()));
    ERR_clear_error();
    const size_t before = live;
    peak = live;
    BUF_MEM* buffer = nullptr;
    const int result = zorbelu::x509::der_read_bio(bio, &buffer);
    const size_t used = peak - before;
    BIO_free(bio);
    std::printf("result %d, peak allocation %zu bytes beyond the start\n", result, used);
    if (result != -1) return 1;
    // The first content chunk is 16 KiB; OpenSSL's buffer grows by a third
    // more, plus its own bookkeeping and the error record.
    return used <= 24 * 1024 ? 0 : 1;
}
