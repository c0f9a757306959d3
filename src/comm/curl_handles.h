// Owning wrappers for libcurl's handles, and libcurl's one-time global setup.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace zorbelu::comm {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// curl_global_init, once per process, thread-safe. False when it failed.
bool EnsureCurlInitialized();

// Appends `line` to `list`; false (list unchanged) when memory ran out.
bool AppendHeader(CurlSlist& list, const char* line);

}  // namespace zorbelu::comm
