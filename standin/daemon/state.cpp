// The daemon's in-memory state: injected errors and replies, served data, the call record.
#include "daemon_internal.h"

namespace whlistd {

void State::reset() {
    errors_.clear();
    for (auto &kv : replies_) g_variant_unref(kv.second.body);
    replies_.clear();
    skips_.clear();
    for (auto &kv : entries_) g_variant_unref(kv.second);
    entries_.clear();
    if (modules_) g_variant_unref(modules_);
    modules_ = nullptr;
    for (auto &c : calls_) g_variant_unref(c.second);
    calls_.clear();
}

// A method-specific injection wins over the "*" one.
template <typename Inj>
Inj *State::find(std::map<std::string, Inj> &m, const std::string &method) {
    auto it = m.find(method);
    if (it == m.end() || it->second.times == 0) it = m.find(kAnyMethod);
    if (it == m.end() || it->second.times == 0) return nullptr;
    return &it->second;
}

void State::inject_reply(const std::string &method, GVariant *tuple, int times) {
    auto it = replies_.find(method);
    if (it != replies_.end()) g_variant_unref(it->second.body);
    replies_[method] = ReplyInjection{g_variant_ref_sink(tuple), times};
}

bool State::take_error(const std::string &method, ErrorInjection *out) {
    ErrorInjection *inj = find(errors_, method);
    if (!inj) return false;
    *out = *inj;
    if (inj->times > 0) --inj->times;
    return true;
}

bool State::take_skip(const std::string &method) {
    auto it = skips_.find(method);
    if (it == skips_.end() || it->second <= 0) return false;
    --it->second;
    return true;
}

GVariant *State::take_reply(const std::string &method) {
    ReplyInjection *inj = find(replies_, method);
    if (!inj) return nullptr;
    if (inj->times > 0) --inj->times;
    return g_variant_ref(inj->body);
}

void State::serve_entries(const std::string &method, GVariant *entries) {
    auto it = entries_.find(method);
    if (it != entries_.end()) g_variant_unref(it->second);
    entries_[method] = g_variant_ref_sink(entries);
}

void State::serve_modules(GVariant *modules) {
    if (modules_) g_variant_unref(modules_);
    modules_ = g_variant_ref_sink(modules);
}

GVariant *State::entries_for(const std::string &method) const {
    auto it = entries_.find(method);
    if (it == entries_.end()) it = entries_.find(kAnyMethod);
    return it == entries_.end() ? nullptr : it->second;
}

void State::record_call(const std::string &method, GVariant *params) {
    // D-Bus cannot carry an empty tuple, so a call without arguments records an empty "av".
    GVariant *p = params && g_variant_n_children(params) > 0
                      ? g_variant_ref(params)
                      : g_variant_ref_sink(g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0));
    calls_.emplace_back(method, p);
}

GVariant *State::calls() const {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sv)"));
    for (const auto &c : calls_) g_variant_builder_add(&b, "(sv)", c.first.c_str(), c.second);
    return g_variant_builder_end(&b);
}

}  // namespace whlistd
