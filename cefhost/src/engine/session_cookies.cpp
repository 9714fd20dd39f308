#include "engine/session_cookies.h"

namespace kxcef {
namespace {
const char kType[] = "a(ssssbbi)";
}

std::string SerializeSessionCookies(GList* cookies) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE(kType));
    for (GList* l = cookies; l; l = l->next) {
        auto* c = static_cast<SoupCookie*>(l->data);
        if (!c || soup_cookie_get_expires(c)) continue;
        auto text = [](const char* s) { return s && g_utf8_validate(s, -1, nullptr) ? s : ""; };
        g_variant_builder_add(&builder, "(ssssbbi)", text(soup_cookie_get_name(c)), text(soup_cookie_get_value(c)),
                              text(soup_cookie_get_domain(c)), text(soup_cookie_get_path(c)),
                              soup_cookie_get_secure(c), soup_cookie_get_http_only(c),
                              static_cast<gint32>(soup_cookie_get_same_site_policy(c)));
    }
    GVariant* v = g_variant_ref_sink(g_variant_builder_end(&builder));
    std::string bytes(static_cast<const char*>(g_variant_get_data(v)), g_variant_get_size(v));
    g_variant_unref(v);
    return bytes;
}

std::vector<SoupCookie*> ParseSessionCookies(const std::string& bytes) {
    std::vector<SoupCookie*> out;
    if (bytes.empty()) return out;
    GBytes* data = g_bytes_new(bytes.data(), bytes.size());
    GVariant* raw = g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(kType), data, FALSE));
    g_bytes_unref(data);
    // The normal form is safe to read whatever the file held.
    GVariant* v = g_variant_get_normal_form(raw);
    g_variant_unref(raw);
    GVariantIter iter;
    g_variant_iter_init(&iter, v);
    const char *name, *value, *domain, *path;
    gboolean secure, httpOnly;
    gint32 sameSite;
    while (g_variant_iter_next(&iter, "(&s&s&s&sbbi)", &name, &value, &domain, &path, &secure, &httpOnly,
                               &sameSite)) {
        if (!*name && !*value) continue;
        if (!*domain) continue;
        SoupCookie* c = soup_cookie_new(name, value, domain, *path ? path : "/", -1);
        if (!c) continue;
        soup_cookie_set_secure(c, secure);
        soup_cookie_set_http_only(c, httpOnly);
        if (sameSite >= SOUP_SAME_SITE_POLICY_NONE && sameSite <= SOUP_SAME_SITE_POLICY_STRICT)
            soup_cookie_set_same_site_policy(c, static_cast<SoupSameSitePolicy>(sameSite));
        out.push_back(c);
    }
    g_variant_unref(v);
    return out;
}

}  // namespace kxcef
