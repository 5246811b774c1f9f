#pragma once

#include <curl/curl.h>
#include <memory>

namespace dv {

// The libcurl functions the HTTP client calls, taken from the library at run time. libcurl
// and the thirty-odd libraries it needs (TLS, Kerberos, LDAP, ...) are loaded only by a
// program that sends a request, not at the start of every program that links the engine.
struct CurlApi
{
    CURLcode (*global_init)(long flags) = nullptr;
    CURL *(*easy_init)() = nullptr;
    void (*easy_cleanup)(CURL *handle) = nullptr;
    void (*easy_reset)(CURL *handle) = nullptr;
    CURLcode (*easy_setopt)(CURL *handle, CURLoption option, ...) = nullptr;
    CURLcode (*easy_getinfo)(CURL *handle, CURLINFO info, ...) = nullptr;
    const char *(*easy_strerror)(CURLcode code) = nullptr;
    CURLM *(*multi_init)() = nullptr;
    CURLMcode (*multi_cleanup)(CURLM *multi) = nullptr;
    CURLMcode (*multi_add_handle)(CURLM *multi, CURL *handle) = nullptr;
    CURLMcode (*multi_remove_handle)(CURLM *multi, CURL *handle) = nullptr;
    CURLMcode (*multi_perform)(CURLM *multi, int *running) = nullptr;
    CURLMsg *(*multi_info_read)(CURLM *multi, int *queued) = nullptr;
    CURLMcode (*multi_poll)(CURLM *multi, curl_waitfd extraFds[], unsigned extraCount,
                            int timeoutMs, int *ready) = nullptr;
    curl_slist *(*slist_append)(curl_slist *list, const char *text) = nullptr;
    void (*slist_free_all)(curl_slist *list) = nullptr;

    // The process-wide table over libcurl.so.4, loaded and initialised by the first call
    // (thread-safe). Throws HttpTransportError when the library cannot be loaded; every
    // later call throws the same error again.
    static const CurlApi &Get();

    // Loads pLibrary and looks up every function, without initialising the library; the
    // library stays loaded. Throws HttpTransportError naming the library (or the missing
    // function) when it cannot be used.
    static std::unique_ptr<CurlApi> Load(const char *pLibrary);
};

} // namespace dv
