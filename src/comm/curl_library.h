// libcurl, opened with dlopen on the first download.
//
// A process that verifies with cached CRLs never downloads; linking libcurl
// would still make the dynamic loader map it and its thirty-odd dependencies
// (TLS, Kerberos, LDAP, IDN, compression) at every start. The build uses
// libcurl's headers only; the calls go through the table below, filled from
// the library the first download opens.
#pragma once

#include <curl/curl.h>

#include <string>

namespace zorbelu::comm {

// Debian's libcurl4 (the OpenSSL flavour the build's headers belong to).
inline constexpr char kCurlSoname[] = "libcurl.so.4";

// The libcurl calls this library makes. The types come from the headers, so
// a call through the table is checked as a direct call would be.
struct CurlApi {
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_easy_init) easyInit = nullptr;
    decltype(&::curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_perform) easyPerform = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&::curl_slist_append) slistAppend = nullptr;
    decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
};

struct CurlLibrary {
    bool loaded = false;  // every entry of `api` is set and curl_global_init succeeded
    CurlApi api;
    std::string error;    // why not, when not loaded
};

// Opens `soname`, resolves the table and runs curl_global_init. A library
// that was initialised is never closed: curl_global_cleanup could pull the
// TLS library's shared state from under another user of it in the process.
CurlLibrary LoadCurlLibrary(const char* soname);

// The process's libcurl, loaded by the first caller (thread-safe). When it
// cannot be loaded the reason is written to stderr once, and every download
// fails with 1201.
const CurlLibrary& ProcessCurl();

}  // namespace zorbelu::comm
