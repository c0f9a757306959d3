#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace zorbelu::platform {
namespace {

// A distinct, never-dereferenced address that names this library as a module.
char ownModuleTag;

std::string (*ownFilePathSource)() = nullptr;

// Path of the library's file: the file this code was loaded from, as the
// loader knows it, unless a program with the library linked in names one.
const std::string& OwnFilePath() {
    static const std::string path = [] {
        if (ownFilePathSource != nullptr) return ownFilePathSource();
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&OwnModuleHandle), &info) != 0 && info.dli_fname != nullptr)
            return std::string(info.dli_fname);
        return std::string();
    }();
    return path;
}

bool SameFile(const char* a, const char* b) {
    struct stat sa {}, sb {};
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether `handle` is the handle of an object the loader holds: a handle
// of the C library's loader is the object's link map, so the handle must be
// one of the list's entries. Anything else (a pointer that is no handle, a
// handle already closed) would crash dlsym. The list is walked inside
// dl_iterate_phdr, which keeps other threads from loading or unloading
// meanwhile.
bool IsLoadedObjectHandle(const void* handle) {
    struct Search {
        const void* handle;
        bool found;
    } search{handle, false};
    dl_iterate_phdr(
        [](dl_phdr_info*, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            for (const link_map* map = _r_debug.r_map; map != nullptr && !s->found; map = map->l_next)
                s->found = map == s->handle;
            return 1;  // one walk of the list is all it takes
        },
        &search);
    return search.found;
}

const ZorbeluResourceTable* TableFromDlHandle(void* handle) {
    if (!IsLoadedObjectHandle(handle)) return nullptr;
    auto* table = static_cast<const ZorbeluResourceTable*>(dlsym(handle, kResourceTableSymbol));
    if (table == nullptr || table->version != kResourceTableVersion) return nullptr;
    return table;
}

}  // namespace

HINSTANCE OwnModuleHandle() { return &ownModuleTag; }

void SetOwnFilePathSource(std::string (*source)()) { ownFilePathSource = source; }

uint32_t GetModuleFileNameA(HINSTANCE module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    std::string path;
    if (module == OwnModuleHandle()) {
        path = OwnFilePath();
    } else if (module != nullptr && IsLoadedObjectHandle(module)) {
        void* symbol = dlsym(module, kResourceTableSymbol);
        Dl_info info{};
        if (symbol != nullptr && dladdr(symbol, &info) != 0 && info.dli_fname != nullptr) path = info.dli_fname;
    }
    const size_t n = std::min<size_t>(path.size(), size - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

void PathRemoveExtensionA(char* path) {
    if (path == nullptr) return;
    char* name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    if (char* so = std::strstr(name, ".so"); so != nullptr && (so[3] == '\0' || so[3] == '.')) {
        *so = '\0';
        return;
    }
    if (char* dot = std::strrchr(name, '.'); dot != nullptr && dot != name) *dot = '\0';
}

std::string LanguageModulePathOf(const char* libraryFile, const char* code) {
    std::string path = libraryFile != nullptr ? libraryFile : "";
    path.push_back('\0');
    PathRemoveExtensionA(path.data());
    path.resize(std::strlen(path.c_str()));
    return path + (code != nullptr ? code : "") + ".so";
}

HINSTANCE LoadLibraryA(const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    if (!OwnFilePath().empty() && SameFile(path, OwnFilePath().c_str())) return OwnModuleHandle();
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    if (TableFromDlHandle(handle) == nullptr) {
        dlclose(handle);
        return nullptr;
    }
    return handle;
}

void FreeLibrary(HINSTANCE module) {
    if (module != nullptr && module != OwnModuleHandle()) dlclose(module);
}

const ZorbeluResourceTable* ResourceTableOf(HINSTANCE module) {
    if (module == nullptr) return nullptr;
    if (module == OwnModuleHandle()) return &zorbelu_builtin_resources;
    return TableFromDlHandle(module);
}

const char* FindStringResource(HINSTANCE module, uint32_t id) { return FindString(ResourceTableOf(module), id); }

const char* FindString(const ZorbeluResourceTable* table, uint32_t id) {
    if (table == nullptr || table->strings == nullptr) return nullptr;
    const ZorbeluStringResource* begin = table->strings;
    const ZorbeluStringResource* end = begin + table->stringCount;
    const auto* found =
        std::lower_bound(begin, end, id, [](const ZorbeluStringResource& s, uint32_t key) { return s.id < key; });
    return found != end && found->id == id ? found->text : nullptr;
}

int LoadStringA(HINSTANCE module, uint32_t id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    const char* text = FindStringResource(module, id);
    if (text == nullptr || *text == '\0') {
        buffer[0] = '\0';
        return 0;
    }
    const size_t n = std::min<size_t>(std::strlen(text), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

const ZorbeluBinaryResource* FindResource(HINSTANCE module, const char* type, uint32_t id) {
    const ZorbeluResourceTable* table = ResourceTableOf(module);
    if (table == nullptr || type == nullptr) return nullptr;
    for (uint32_t i = 0; i < table->resourceCount; ++i) {
        const ZorbeluBinaryResource& r = table->resources[i];
        if (r.id == id && std::strcmp(r.type, type) == 0) return &r;
    }
    return nullptr;
}

}  // namespace zorbelu::platform
