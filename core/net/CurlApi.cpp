#include "core/net/CurlApi.h"

#include "core/net/HttpTransportError.h"

#include <dlfcn.h>
#include <string>

namespace dv {

namespace {

constexpr const char *kLibrary = "libcurl.so.4";

template <typename Function>
void Resolve(void *pHandle, const char *pLibrary, const char *pSymbol, Function *&pTarget)
{
    void *address = dlsym(pHandle, pSymbol);
    if (!address)
        throw HttpTransportError(HttpTransportError::Kind::Failure,
                                 std::string("The HTTP library ") + pLibrary + " lacks " + pSymbol);
    pTarget = reinterpret_cast<Function *>(address);
}

// The outcome of the one attempt to load the library: the table, or why there is none.
struct Loaded
{
    std::unique_ptr<CurlApi> Api;
    std::string Error;
};

Loaded LoadAndInitialise()
{
    Loaded loaded;
    try {
        loaded.Api = CurlApi::Load(kLibrary);
        const CURLcode code = loaded.Api->global_init(CURL_GLOBAL_DEFAULT);
        if (code != CURLE_OK) {
            loaded.Error = std::string("Cannot initialise the HTTP library: ") +
                           loaded.Api->easy_strerror(code);
            loaded.Api.reset();
        }
    } catch (const HttpTransportError &e) {
        loaded.Error = e.what();
    }
    return loaded;
}

} // namespace

std::unique_ptr<CurlApi> CurlApi::Load(const char *pLibrary)
{
    // Never closed: libcurl keeps global state and threads may still be inside it.
    void *handle = dlopen(pLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = dlerror();
        throw HttpTransportError(HttpTransportError::Kind::Failure,
                                 std::string("Cannot load the HTTP library ") + pLibrary +
                                     (reason ? std::string(": ") + reason : std::string()));
    }
    auto api = std::make_unique<CurlApi>();
    Resolve(handle, pLibrary, "curl_global_init", api->global_init);
    Resolve(handle, pLibrary, "curl_easy_init", api->easy_init);
    Resolve(handle, pLibrary, "curl_easy_cleanup", api->easy_cleanup);
    Resolve(handle, pLibrary, "curl_easy_reset", api->easy_reset);
    Resolve(handle, pLibrary, "curl_easy_setopt", api->easy_setopt);
    Resolve(handle, pLibrary, "curl_easy_getinfo", api->easy_getinfo);
    Resolve(handle, pLibrary, "curl_easy_strerror", api->easy_strerror);
    Resolve(handle, pLibrary, "curl_multi_init", api->multi_init);
    Resolve(handle, pLibrary, "curl_multi_cleanup", api->multi_cleanup);
    Resolve(handle, pLibrary, "curl_multi_add_handle", api->multi_add_handle);
    Resolve(handle, pLibrary, "curl_multi_remove_handle", api->multi_remove_handle);
    Resolve(handle, pLibrary, "curl_multi_perform", api->multi_perform);
    Resolve(handle, pLibrary, "curl_multi_info_read", api->multi_info_read);
    Resolve(handle, pLibrary, "curl_multi_poll", api->multi_poll);
    Resolve(handle, pLibrary, "curl_slist_append", api->slist_append);
    Resolve(handle, pLibrary, "curl_slist_free_all", api->slist_free_all);
    return api;
}

const CurlApi &CurlApi::Get()
{
    // A function-local static is initialised exactly once, even with racing first callers.
    static const Loaded loaded = LoadAndInitialise();
    if (!loaded.Api)
        throw HttpTransportError(HttpTransportError::Kind::Failure, loaded.Error);
    return *loaded.Api;
}

} // namespace dv
