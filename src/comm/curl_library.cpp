// Opening libcurl on demand and filling the table of its calls.
#include "comm/curl_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace zorbelu::comm {
namespace {

// dlsym into the entry's own function-pointer type; false when missing.
template <typename Function>
bool Resolve(void* handle, const char* name, Function* entry) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) return false;
    *entry = reinterpret_cast<Function>(symbol);
    return true;
}

bool ResolveAll(void* handle, CurlApi* api, std::string* missing) {
    const bool ok = Resolve(handle, "curl_global_init", &api->globalInit) &&
                    Resolve(handle, "curl_easy_init", &api->easyInit) &&
                    Resolve(handle, "curl_easy_cleanup", &api->easyCleanup) &&
                    Resolve(handle, "curl_easy_setopt", &api->easySetopt) &&
                    Resolve(handle, "curl_easy_perform", &api->easyPerform) &&
                    Resolve(handle, "curl_easy_getinfo", &api->easyGetinfo) &&
                    Resolve(handle, "curl_slist_append", &api->slistAppend) &&
                    Resolve(handle, "curl_slist_free_all", &api->slistFreeAll);
    if (!ok) {
        const char* why = dlerror();
        *missing = why != nullptr ? why : "a libcurl function is missing";
    }
    return ok;
}

}  // namespace

CurlLibrary LoadCurlLibrary(const char* soname) {
    CurlLibrary out;
    // RTLD_LOCAL: libcurl's symbols stay out of the process's global scope,
    // where they could stand in for another libcurl a host loads itself.
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        out.error = std::string("cannot load ") + soname + " (" + (why != nullptr ? why : "unknown reason") +
                    "); HTTP downloads need libcurl 4 built with OpenSSL";
        return out;
    }
    std::string missing;
    if (!ResolveAll(handle, &out.api, &missing)) {
        dlclose(handle);  // nothing of it ran yet
        out.api = CurlApi{};
        out.error = std::string(soname) + " lacks a function this library calls: " + missing;
        return out;
    }
    if (out.api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        out.error = std::string("curl_global_init of ") + soname + " failed";
        return out;  // left open: what curl_global_init did half is not undone
    }
    out.loaded = true;
    return out;
}

const CurlLibrary& ProcessCurl() {
    // curl_global_init is not thread-safe: the initialisation of the local
    // static runs it exactly once.
    static const CurlLibrary library = [] {
        CurlLibrary loaded = LoadCurlLibrary(kCurlSoname);
        if (!loaded.loaded) std::fprintf(stderr, "libzorbelcomm: downloads fail: %s\n", loaded.error.c_str());
        return loaded;
    }();
    return library;
}

}  // namespace zorbelu::comm
