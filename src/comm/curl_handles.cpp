// The small helpers around libcurl's handles.
#include "comm/curl_handles.h"

namespace zorbelu::comm {

bool AppendHeader(CurlSlist& list, const char* line) {
    curl_slist* extended = list.get_deleter().api->slistAppend(list.get(), line);
    if (extended == nullptr) return false;
    // curl_slist_append returns the head, which is the old head unless the
    // list was empty.
    if (extended != list.get()) {
        (void)list.release();
        list.reset(extended);
    }
    return true;
}

}  // namespace zorbelu::comm
