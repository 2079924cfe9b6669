#include "net/CurlApi.h"

#include "net/InetErrors.h"

#include <dlfcn.h>
#include <mutex>
#include <string>

namespace pellora {

namespace {

template <typename TProc> void Resolve(void* library, const char* name, TProc& proc) {
    proc = reinterpret_cast<TProc>(::dlsym(library, name));
    if (proc == nullptr)
        throw EInetError(std::string("The HTTP library has no ") + name + ".");
}

TCurlApi Load() {
    void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        throw EInetError(std::string("The HTTP library libcurl could not be loaded: ") +
                         (why ? why : "unknown error"));
    }
    // Kept loaded for the rest of the run: TLS libraries do not like being unloaded.
    TCurlApi api{};
    Resolve(library, "curl_global_init", api.global_init);
    Resolve(library, "curl_easy_init", api.easy_init);
    Resolve(library, "curl_easy_reset", api.easy_reset);
    Resolve(library, "curl_easy_cleanup", api.easy_cleanup);
    Resolve(library, "curl_easy_setopt", api.easy_setopt);
    Resolve(library, "curl_easy_getinfo", api.easy_getinfo);
    Resolve(library, "curl_easy_strerror", api.easy_strerror);
    Resolve(library, "curl_multi_init", api.multi_init);
    Resolve(library, "curl_multi_cleanup", api.multi_cleanup);
    Resolve(library, "curl_multi_add_handle", api.multi_add_handle);
    Resolve(library, "curl_multi_remove_handle", api.multi_remove_handle);
    Resolve(library, "curl_multi_perform", api.multi_perform);
    Resolve(library, "curl_multi_poll", api.multi_poll);
    Resolve(library, "curl_multi_wakeup", api.multi_wakeup);
    Resolve(library, "curl_multi_info_read", api.multi_info_read);
    Resolve(library, "curl_slist_append", api.slist_append);
    Resolve(library, "curl_slist_free_all", api.slist_free_all);
    Resolve(library, "curl_url", api.url);
    Resolve(library, "curl_url_cleanup", api.url_cleanup);
    Resolve(library, "curl_url_set", api.url_set);
    Resolve(library, "curl_url_get", api.url_get);
    Resolve(library, "curl_free", api.free);
    api.global_init(CURL_GLOBAL_DEFAULT);
    return api;
}

} // namespace

const TCurlApi& CurlApi() {
    static std::once_flag once;
    static TCurlApi api{};
    std::call_once(once, [] { api = Load(); });
    return api;
}

} // namespace pellora
