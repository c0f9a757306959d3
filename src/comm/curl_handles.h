// Owning wrappers for libcurl's handles, freed through the loaded library.
#pragma once

#include <memory>

#include "comm/curl_library.h"

namespace zorbelu::comm {

struct CurlEasyDeleter {
    const CurlApi* api = nullptr;
    void operator()(CURL* handle) const { api->easyCleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    const CurlApi* api = nullptr;
    void operator()(curl_slist* list) const { api->slistFreeAll(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Appends `line` to `list`; false (list unchanged) when memory ran out.
bool AppendHeader(CurlSlist& list, const char* line);

}  // namespace zorbelu::comm
