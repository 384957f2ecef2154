// libcurl for `cebridge sync`'s collections on a server, loaded by name the first time
// one is reached. Linked, libcurl and the two dozen libraries it needs would be loaded
// and set up at the start of every command, about half of a short command's time.
#ifndef CEBRIDGE_HOST_SYNC_CURL_H
#define CEBRIDGE_HOST_SYNC_CURL_H

#include <string>

#include <curl/curl.h>

#include "outcome.h"

namespace host {

// The libcurl functions the sync calls, named as in libcurl without "curl_".
struct CurlFunctions {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_reset) easy_reset;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_free) free;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    decltype(&curl_url) url;
    decltype(&curl_url_set) url_set;
    decltype(&curl_url_get) url_get;
    decltype(&curl_url_cleanup) url_cleanup;
};

// libcurl, loaded and globally set up once per process; null when it cannot be
// loaded, and then CurlLoaded says why (the library or one of its functions is missing).
const CurlFunctions *Curl();
Outcome CurlLoaded();

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_CURL_H
